#include "ui/CoolButtonState.h"

#include <algorithm>

bool CoolButtonActions::Contains(CoolButtonAction action) const {
    return std::find(begin(), end(), action) != end();
}

void CoolButtonState::Capture(CoolButtonActions& actions) {
    m_bCaptured = true;
    actions.Add(CoolButtonAction::Capture);
}

void CoolButtonState::Release(CoolButtonActions& actions) {
    m_bCaptured = false;
    actions.Add(CoolButtonAction::Release);
}

CoolButtonActions CoolButtonState::OnMouseMove(std::int32_t borderStyle, std::uint32_t keyFlags,
                                               bool inside) {
    CoolButtonActions actions;
    const bool left = (keyFlags & kKeyLeftButton) != 0;
    if (!left && borderStyle == BORDER_3D) {
        actions.Add(CoolButtonAction::PassToBase);
        return actions;
    }

    bool changed = false;
    if (inside) {
        changed = !m_bHover;
        m_bHover = true;
        if (left) {
            changed = changed || !m_bPressed;
            m_bPressed = true;
        }
        if (!m_bCaptured) {
            // The first move over the control takes the capture so that the move that leaves
            // it is seen; the face is repainted even when the flags were already set.
            Capture(actions);
            actions.Add(CoolButtonAction::RepaintNow);
        } else if (changed) {
            actions.Add(CoolButtonAction::RepaintNow);
        }
    } else {
        if (left) {
            // Dragged out while held: the pressed look ends, the hover look stays.
            changed = m_bPressed;
            m_bPressed = false;
        } else {
            changed = m_bHover;
            m_bHover = false;
        }
        if (m_bCaptured && keyFlags == 0) {
            Release(actions);
            actions.Add(CoolButtonAction::RepaintNow);
        } else if (changed) {
            actions.Add(CoolButtonAction::RepaintNow);
        }
    }
    actions.Add(CoolButtonAction::PassToBase);
    return actions;
}

CoolButtonActions CoolButtonState::OnLButtonDown() {
    CoolButtonActions actions;
    m_bPressed = true;
    m_bHover = true;
    if (!m_bCaptured) Capture(actions);
    actions.Add(CoolButtonAction::RepaintNow);
    actions.Add(CoolButtonAction::PassToBase);
    return actions;
}

CoolButtonActions CoolButtonState::OnLButtonUp() {
    CoolButtonActions actions;
    m_bPressed = false;
    m_bHover = false;
    actions.Add(CoolButtonAction::RepaintNow);
    actions.Add(CoolButtonAction::PassToBase);
    actions.Add(CoolButtonAction::ReleaseIfCaptured);
    return actions;
}

bool CoolButtonState::ReleaseIfCaptured() {
    const bool was = m_bCaptured;
    m_bCaptured = false;
    return was;
}

CoolButtonActions CoolButtonState::OnCancelMode() {
    CoolButtonActions actions;
    actions.Add(CoolButtonAction::PassToBase);
    if (m_bCaptured) {
        Release(actions);
        actions.Add(CoolButtonAction::RepaintNow);
    }
    return actions;
}

CoolButtonActions CoolButtonState::OnEnable(bool enable) {
    CoolButtonActions actions;
    if (!enable) {
        m_bPressed = false;
        m_bHover = false;
        if (m_bCaptured) Release(actions);
    }
    actions.Add(CoolButtonAction::PassToBase);
    return actions;
}
