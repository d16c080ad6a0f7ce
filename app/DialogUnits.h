#pragma once
// Dialog layout in dialog units, as the dialog templates give it. One horizontal unit is a
// quarter of the dialog font's average character width, one vertical unit an eighth of its
// character height; the average width is that of the 52 letters A-Z and a-z over 52, rounded,
// which is how the Windows dialog manager measures it. Converting through the font we actually
// use keeps the controls in proportion to their text whatever font the system substitutes.

#include <QFont>
#include <QRect>
#include <QSize>

struct DialogBaseUnits {
    int cx = 0;  // average character width in pixels
    int cy = 0;  // character height in pixels
};

// "宋体" 9 pt, falling back to the Song-style CJK fonts a Linux system usually has.
QFont DialogFont();

DialogBaseUnits BaseUnitsOf(const QFont& font);

// a * b / c rounded to the nearest integer, halves away from zero (Windows MulDiv).
int MulDiv(int a, int b, int c);

QRect DluToPixels(const QRect& dlu, DialogBaseUnits units);
QSize DluToPixels(const QSize& dlu, DialogBaseUnits units);
