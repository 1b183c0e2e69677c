#include "common/layout.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <climits>
#include <iterator>

namespace vemlo {

QFont windowFont()
{
    QFont font(QStringLiteral("宋体"));
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    double dpi = 96;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInchY();
    font.setPixelSize(qMax(1, qRound(13 * dpi / 96)));
    font.setStyleHint(QFont::SansSerif);
    return font;
}

Scale::Scale(const QFont& font)
{
    const int height = QFontMetrics(font).height();
    factor_ = height > 0 ? height / 13.0 : 1.0;
}

void place(QWidget* w, const Scale& s, int left, int top, int width, int height)
{
    w->setGeometry(s.rect(left, top, width, height));
}

namespace {

// The frame's line takes the palette's WindowText colour: the highlight
// while the list holds the focus, else the colour of a plain border.
void paintFrame(QFrame* frame, bool focused)
{
    QPalette p = frame->palette();
    p.setColor(QPalette::WindowText, p.color(focused ? QPalette::Highlight : QPalette::Mid));
    frame->setPalette(p);
}

class FocusFrame : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            paintFrame(static_cast<QFrame*>(watched), event->type() == QEvent::FocusIn);
        return false;
    }
};

}  // namespace

void markFocus(QWidget* list)
{
    // A plain frame of one width in both states, so that the items do not
    // shift; no style sheet, which would slow the laying out of many items.
    auto* frame = qobject_cast<QFrame*>(list);
    if (!frame)
        return;
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(1);
    paintFrame(frame, frame->hasFocus());
    frame->installEventFilter(new FocusFrame(frame));
}

QIcon appIcon()
{
    // The 32-pixel rendering of the application's SVG icon, each pixel
    // either transparent or the nearest of the 16 colours of the classic
    // palette, without dithering.
    static const QRgb palette[16] = {
        0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080, 0xffc0c0c0,
        0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
    const QImage source = QImage(QStringLiteral(":/vemlo/icon-32.png")).convertToFormat(QImage::Format_ARGB32);
    if (source.isNull())
        return {};
    QList<QRgb> colours(std::begin(palette), std::end(palette));
    colours.append(qRgba(0, 0, 0, 0));
    const QImage icon = source.convertToFormat(QImage::Format_Indexed8, colours, Qt::ThresholdDither);
    return QIcon(QPixmap::fromImage(icon));
}

}  // namespace vemlo
