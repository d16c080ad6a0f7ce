#pragma once
// Dialog layout in dialog units, as the dialog templates give it. One horizontal unit is a
// quarter of the dialog font's average character width, one vertical unit an eighth of its
// character height; the average width is that of the 52 letters A-Z and a-z over 52, rounded,
// which is how the Windows dialog manager measures it.

#include <cstdint>

struct DialogBaseUnits {
    int cx = 0;  // average character width in pixels
    int cy = 0;  // character height in pixels
};

// A rectangle or size in dialog units (x, y, width, height), or in pixels after conversion.
struct DluRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    friend bool operator==(const DluRect&, const DluRect&) = default;
};
using PixelRect = DluRect;

// a * b / c rounded to the nearest integer, halves away from zero (Windows MulDiv).
int RoundMulDiv(int a, int b, int c);

// The average character width from the advance of the 52 letters, rounded as Windows rounds it.
int AverageCharWidth(int advanceOfLetters);

PixelRect DluToPixels(const DluRect& dlu, DialogBaseUnits units);
