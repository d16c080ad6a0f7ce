#include "app/DialogUnits.h"

int RoundMulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long divisor = c < 0 ? -static_cast<long long>(c) : c;
    const long long magnitude = ((product < 0 ? -product : product) + divisor / 2) / divisor;
    const bool negative = (product < 0) != (c < 0);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int AverageCharWidth(int advanceOfLetters) {
    return (advanceOfLetters / 26 + 1) / 2;
}

PixelRect DluToPixels(const DluRect& dlu, DialogBaseUnits units) {
    return {RoundMulDiv(dlu.x, units.cx, 4), RoundMulDiv(dlu.y, units.cy, 8),
            RoundMulDiv(dlu.w, units.cx, 4), RoundMulDiv(dlu.h, units.cy, 8)};
}
