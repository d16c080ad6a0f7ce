#include "app/qt/DialogFont.h"

#include <QFontMetrics>
#include <QStringList>

#include "app/DialogTemplate.h"

QFont DialogFont() {
    QFont font;
    // SimSun under its Chinese and Latin names first, then the Ming/Song faces of Linux
    // distributions (AR PL UMing ships with Debian's fonts-arphic-uming), then any serif CJK.
    font.setFamilies({QString::fromUtf8(kDialogFontName), QStringLiteral("SimSun"),
                      QStringLiteral("NSimSun"), QStringLiteral("AR PL UMing CN"),
                      QStringLiteral("AR PL UMing TW"), QStringLiteral("AR PL SungtiL GB"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Source Han Serif SC")});
    font.setStyleHint(QFont::Serif);
    font.setPointSize(kDialogFontPoints);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {AverageCharWidth(letters), metrics.height()};
}

QRect ToQRect(const PixelRect& r) {
    return {r.x, r.y, r.w, r.h};
}
