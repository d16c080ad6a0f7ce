#include "ui/CoolButtonSettings.h"

void CoolButtonSettings::SetContent(std::int32_t content) {
    m_nContent = content;
    RepaintFace();
}

void CoolButtonSettings::SetBorderStyle(std::int32_t borderStyle) {
    m_nBorderStyle = borderStyle;
    RepaintFace();
}

void CoolButtonSettings::SetImageRight(bool imageRight) {
    m_bImageRight = imageRight;
    RepaintFace();
}

void CoolButtonSettings::SetPressedOffset(std::int32_t x, std::int32_t y) {
    m_ptPressedOffset = {x, y};
    RepaintFace();
}

void CoolButtonSettings::SetTextColor(ColorRef color) {
    m_crText = color;
    RepaintFace();
}

void CoolButtonSettings::SetHoverTextColor(ColorRef color) {
    m_crHoverText = color;
    RepaintFace();
}
