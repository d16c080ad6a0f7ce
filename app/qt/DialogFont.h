#pragma once
// The dialog font on Qt and the base units measured from it. Converting the templates' dialog
// units through the font we actually use keeps the controls in proportion to their text
// whatever font the system substitutes.

#include <QFont>
#include <QRect>

#include "app/DialogUnits.h"

// The templates' "宋体" 9 pt, falling back to the Song-style CJK fonts a Linux system usually
// has.
QFont DialogFont();

DialogBaseUnits BaseUnitsOf(const QFont& font);

QRect ToQRect(const PixelRect& r);
