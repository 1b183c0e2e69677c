#include "app/layout.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

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

QIcon appIcon()
{
    // A folder with a list on it, in the 16 colours of the classic palette.
    static const char* const xpm[] = {
        "32 32 6 1",
        "  c None",
        ". c #000000",
        "y c #FFFF00",
        "o c #808000",
        "w c #FFFFFF",
        "b c #000080",
        "                                ",
        "                                ",
        "                                ",
        "   ........                     ",
        "  .yyyyyyyy.                    ",
        " .yyyyyyyyyy.................   ",
        " .yyyyyyyyyyyyyyyyyyyyyyyyyyy.  ",
        " .yyyyyyyyyyyyyyyyyyyyyyyyyyy.  ",
        " .yyyy....................yyy.  ",
        " .yyyy.wwwwwwwwwwwwwwwwww.yyy.  ",
        " .yyyy.wbbbbbbbbbbbbbbbbw.yyy.  ",
        " .yyyy.wwwwwwwwwwwwwwwwww.yyy.  ",
        " .yyyy.wbbbbbbbbbbbbbwwww.yyy.  ",
        " .yyyy.wwwwwwwwwwwwwwwwww.yyy.  ",
        " .yyyy.wbbbbbbbbbbbbbbbbw.yyy.  ",
        " .yyyy.wwwwwwwwwwwwwwwwww.yyy.  ",
        " .yyyy.wbbbbbbbbbbwwwwwww.yyy.  ",
        " .yyyy.wwwwwwwwwwwwwwwwww.yyy.  ",
        " .yyyy.wbbbbbbbbbbbbbbbbw.yyy.  ",
        " .yyyy.wwwwwwwwwwwwwwwwww.yyy.  ",
        " .yyyy.wbbbbbbbbbbbbbwwww.yyy.  ",
        " .yyyy.wwwwwwwwwwwwwwwwww.yyy.  ",
        " .yyyy....................yyy.  ",
        " .yyyyyyyyyyyyyyyyyyyyyyyyyyy.  ",
        " .ooooooooooooooooooooooooooo.  ",
        " .ooooooooooooooooooooooooooo.  ",
        "  ...........................   ",
        "                                ",
        "                                ",
        "                                ",
        "                                ",
        "                                ",
    };
    return QIcon(QPixmap(xpm));
}

}  // namespace vemlo
