#pragma once
// The hover button's settings, shared by both front ends: each setter changes the look and asks
// the front end to repaint the face (RepaintFace). The dialog keeps the defaults; the setters
// are there so that a caller who changes a setting gets the same behaviour on every toolkit.

#include <cstdint>

#include "ui/CoolButtonGeometry.h"

class CoolButtonSettings : protected CoolButtonLook {
public:
    virtual ~CoolButtonSettings() = default;

    void SetContent(std::int32_t content);          // CONTENT_IMAGE, CONTENT_TEXT, ...
    void SetBorderStyle(std::int32_t borderStyle);  // BORDER_3D, BORDER_FLAT, ...
    void SetImageRight(bool imageRight);
    void SetPressedOffset(std::int32_t x, std::int32_t y);
    // kColorDefault: the system's button text; for the hover colour: no change on hover.
    void SetTextColor(ColorRef color);
    void SetHoverTextColor(ColorRef color);

protected:
    CoolButtonSettings() = default;
    CoolButtonSettings(const CoolButtonSettings&) = default;
    CoolButtonSettings& operator=(const CoolButtonSettings&) = default;

    // Schedules a repaint of the whole face.
    virtual void RepaintFace() = 0;
};
