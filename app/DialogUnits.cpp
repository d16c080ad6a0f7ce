#include "app/DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>

QFont DialogFont() {
    QFont font;
    // SimSun under its Chinese and Latin names first, then the Ming/Song faces of Linux
    // distributions (AR PL UMing ships with Debian's fonts-arphic-uming), then any serif CJK.
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                      QStringLiteral("AR PL SungtiL GB"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Source Han Serif SC")});
    font.setStyleHint(QFont::Serif);
    font.setPointSize(9);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = (c < 0 ? -c : c) / 2;
    const bool negative = (product < 0) != (c < 0);
    const long long magnitude = ((product < 0 ? -product : product) + half) / (c < 0 ? -c : c);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect DluToPixels(const QRect& dlu, DialogBaseUnits units) {
    return {MulDiv(dlu.x(), units.cx, 4), MulDiv(dlu.y(), units.cy, 8),
            MulDiv(dlu.width(), units.cx, 4), MulDiv(dlu.height(), units.cy, 8)};
}

QSize DluToPixels(const QSize& dlu, DialogBaseUnits units) {
    return {MulDiv(dlu.width(), units.cx, 4), MulDiv(dlu.height(), units.cy, 8)};
}
