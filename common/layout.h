// Fixed geometry of the windows: the window font and the factor by which every
// designed position and size is scaled (measured text height / 13).
#pragma once

#include <QFont>
#include <QIcon>
#include <QRect>

class QWidget;

namespace vemlo {

// "宋体" at 13 pixels (scaled by the screen's density), or a CJK substitute.
QFont windowFont();

class Scale {
public:
    explicit Scale(const QFont& font);
    int operator()(int v) const { return int(v * factor_ + 0.5); }
    QRect rect(int left, int top, int width, int height) const
    {
        return {(*this)(left), (*this)(top), (*this)(width), (*this)(height)};
    }
    double factor() const { return factor_; }

private:
    double factor_;
};

// Places w at the designed rectangle, scaled.
void place(QWidget* w, const Scale& s, int left, int top, int width, int height);

// Gives a list its frame in the highlight colour while it holds the
// keyboard focus, as the edit boxes show theirs.
void markFocus(QWidget* list);

// The application's own window icon: one 32 x 32 image in 16 colours.
QIcon appIcon();

}  // namespace vemlo
