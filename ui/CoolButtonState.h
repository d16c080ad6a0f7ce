#pragma once
// Mouse state of the hover button, free of any GUI toolkit. Each handler updates the three
// flags and returns, in the order they must happen, the platform actions the widget performs:
// taking or releasing the mouse capture, repainting at once, and passing the event on to the
// base push button. The widget supplies the key flags and the hit test; everything the face
// shows follows from these flags and the base button's own pushed state.

#include <array>
#include <cstddef>
#include <cstdint>

// Frame styles (m_nBorderStyle).
inline constexpr std::int32_t BORDER_3D = 0;
inline constexpr std::int32_t BORDER_FLAT = 1;
inline constexpr std::int32_t BORDER_SEMIFLAT = 2;
inline constexpr std::int32_t BORDER_NONE = 3;

// Key flags of a mouse move, with the values the Windows message carries (MK_LBUTTON, ...).
inline constexpr std::uint32_t kKeyLeftButton = 0x1;
inline constexpr std::uint32_t kKeyRightButton = 0x2;
inline constexpr std::uint32_t kKeyShift = 0x4;
inline constexpr std::uint32_t kKeyControl = 0x8;
inline constexpr std::uint32_t kKeyMiddleButton = 0x10;
inline constexpr std::uint32_t kKeyXButton1 = 0x20;
inline constexpr std::uint32_t kKeyXButton2 = 0x40;

enum class CoolButtonAction : std::uint8_t {
    Capture,     // take the mouse capture (m_bCaptured is already set)
    Release,     // give the capture back (m_bCaptured is already cleared)
    RepaintNow,  // invalidate the whole face and paint it before going on
    PassToBase,  // let the base push button process the event
    // Call ReleaseIfCaptured now and give the capture back when it says so; used after the
    // base button has seen a release, whose click handler may already have released it.
    ReleaseIfCaptured,
};

// Ordered list of actions; no handler needs more than four.
class CoolButtonActions {
public:
    void Add(CoolButtonAction action) { m_actions[m_count++] = action; }
    std::size_t size() const { return m_count; }
    CoolButtonAction operator[](std::size_t i) const { return m_actions[i]; }
    const CoolButtonAction* begin() const { return m_actions.data(); }
    const CoolButtonAction* end() const { return m_actions.data() + m_count; }
    bool Contains(CoolButtonAction action) const;

private:
    std::array<CoolButtonAction, 4> m_actions{};
    std::size_t m_count = 0;
};

class CoolButtonState {
public:
    bool m_bPressed = false;   // left button held with the pointer over the control
    bool m_bHover = false;     // pointer over the control
    bool m_bCaptured = false;  // the control took the capture itself and owes its release

    // A pointer move; inside says whether the point lies in the client rectangle. In the 3-D
    // style moves without the left button are not tracked at all.
    CoolButtonActions OnMouseMove(std::int32_t borderStyle, std::uint32_t keyFlags, bool inside);
    CoolButtonActions OnLButtonDown();
    // The base button sends the click before the capture is given back.
    CoolButtonActions OnLButtonUp();
    // Clears m_bCaptured; true when it was set and the capture must be given back.
    bool ReleaseIfCaptured();
    // Something else cancelled the mouse mode: give the capture back, keep the look.
    CoolButtonActions OnCancelMode();
    // Disabling forgets hover and pressed; the base button repaints, this handler does not.
    CoolButtonActions OnEnable(bool enable);

    // The pressed look: the flags, or the base button's pushed state (kItemSelected).
    bool PressedLook(bool selected) const { return (m_bPressed && m_bHover) || selected; }

private:
    void Capture(CoolButtonActions& actions);
    void Release(CoolButtonActions& actions);
};
