#include <gtest/gtest.h>

#include <vector>

#include "ui/CoolButtonGeometry.h"
#include "ui/CoolButtonState.h"

namespace {

using A = CoolButtonAction;

std::vector<A> List(const CoolButtonActions& actions) {
    return {actions.begin(), actions.end()};
}

// The look the face shows for the flags alone (no pushed state from the base button).
enum class Look { Rest, Hover, Pressed };
Look LookOf(const CoolButtonState& s) {
    if (s.PressedLook(false)) return Look::Pressed;
    return s.m_bHover ? Look::Hover : Look::Rest;
}

// Flat-style button with the pointer resting over it (first move took the capture).
CoolButtonState Hovering() {
    CoolButtonState s;
    s.OnMouseMove(BORDER_FLAT, 0, true);
    return s;
}

}  // namespace

TEST(CoolButtonState, FirstMoveOverTakesCaptureAndRepaintsLaterMovesOnlyOnChange) {
    CoolButtonState s;
    EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, 0, true)),
              (std::vector<A>{A::Capture, A::RepaintNow, A::PassToBase}));
    EXPECT_TRUE(s.m_bHover);
    EXPECT_FALSE(s.m_bPressed);
    EXPECT_TRUE(s.m_bCaptured);
    EXPECT_EQ(LookOf(s), Look::Hover);

    // Nothing changed: no repaint, still passed on.
    EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, 0, true)), (std::vector<A>{A::PassToBase}));

    // Not captured but already hovering (after cancel mode): capture and repaint anyway.
    s.m_bCaptured = false;
    EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, 0, true)),
              (std::vector<A>{A::Capture, A::RepaintNow, A::PassToBase}));

    // Leaving with nothing held gives the capture back.
    EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, 0, false)),
              (std::vector<A>{A::Release, A::RepaintNow, A::PassToBase}));
    EXPECT_FALSE(s.m_bHover);
    EXPECT_FALSE(s.m_bCaptured);
    // A further move outside changes nothing.
    EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, 0, false)), (std::vector<A>{A::PassToBase}));
}

TEST(CoolButtonState, DragOutKeepsHoverEndsPressedAndDragBackPressesAgain) {
    CoolButtonState s = Hovering();
    EXPECT_EQ(List(s.OnLButtonDown()), (std::vector<A>{A::RepaintNow, A::PassToBase}));
    EXPECT_EQ(LookOf(s), Look::Pressed);

    EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, kKeyLeftButton, false)),
              (std::vector<A>{A::RepaintNow, A::PassToBase}));
    EXPECT_FALSE(s.m_bPressed);
    EXPECT_TRUE(s.m_bHover);
    EXPECT_TRUE(s.m_bCaptured);
    EXPECT_EQ(LookOf(s), Look::Hover);
    // Further drags outside repaint nothing.
    EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, kKeyLeftButton, false)),
              (std::vector<A>{A::PassToBase}));

    EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, kKeyLeftButton, true)),
              (std::vector<A>{A::RepaintNow, A::PassToBase}));
    EXPECT_EQ(LookOf(s), Look::Pressed);
}

TEST(CoolButtonState, ReleaseClearsBothAndGivesCaptureBackAfterTheBaseButton) {
    CoolButtonState s;
    // Pressed without a move first: the press takes the capture itself.
    EXPECT_EQ(List(s.OnLButtonDown()), (std::vector<A>{A::Capture, A::RepaintNow, A::PassToBase}));
    s.OnMouseMove(BORDER_FLAT, kKeyLeftButton, false);  // released outside after this

    EXPECT_EQ(List(s.OnLButtonUp()),
              (std::vector<A>{A::RepaintNow, A::PassToBase, A::ReleaseIfCaptured}));
    EXPECT_FALSE(s.m_bPressed);
    EXPECT_FALSE(s.m_bHover);
    // Still owed while the base button sends its click.
    EXPECT_TRUE(s.m_bCaptured);
    EXPECT_TRUE(s.ReleaseIfCaptured());
    EXPECT_FALSE(s.m_bCaptured);
    // Released already (say, the click handler disabled the button): nothing more to give back.
    EXPECT_FALSE(s.ReleaseIfCaptured());
}

TEST(CoolButtonState, AfterAClickTheRestLookShowsUntilThePointerMoves) {
    CoolButtonState s = Hovering();
    s.OnLButtonDown();
    s.OnLButtonUp();
    s.ReleaseIfCaptured();
    EXPECT_EQ(LookOf(s), Look::Rest);
    const CoolFrames frames = LayoutFrames(CoolButtonLook{}, s, {0, 0, 80, 24}, 0);
    EXPECT_EQ(frames.count, 0u);  // flat style: no hover frame

    s.OnMouseMove(BORDER_FLAT, 0, true);
    EXPECT_EQ(LookOf(s), Look::Hover);
}

TEST(CoolButtonState, MovingInWithTheButtonAlreadyHeldShowsThePressedLook) {
    CoolButtonState s;
    EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, kKeyLeftButton, true)),
              (std::vector<A>{A::Capture, A::RepaintNow, A::PassToBase}));
    EXPECT_TRUE(s.m_bPressed);
    EXPECT_TRUE(s.m_bHover);
    EXPECT_EQ(LookOf(s), Look::Pressed);
}

TEST(CoolButtonState, LeavingWithShiftOrCtrlHeldEndsHoverButKeepsTheCapture) {
    for (std::uint32_t key : {kKeyShift, kKeyControl, kKeyRightButton, kKeyShift | kKeyControl}) {
        SCOPED_TRACE(key);
        CoolButtonState s = Hovering();
        EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, key, false)),
                  (std::vector<A>{A::RepaintNow, A::PassToBase}));
        EXPECT_EQ(LookOf(s), Look::Rest);
        EXPECT_TRUE(s.m_bCaptured);
        // Still held: nothing changes.
        EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, key, false)), (std::vector<A>{A::PassToBase}));
        EXPECT_TRUE(s.m_bCaptured);
        // Everything let go, still outside: now released.
        EXPECT_EQ(List(s.OnMouseMove(BORDER_FLAT, 0, false)),
                  (std::vector<A>{A::Release, A::RepaintNow, A::PassToBase}));
        EXPECT_FALSE(s.m_bCaptured);
    }

    // The other ways the kept capture ends: left release, cancel mode, disabling.
    CoolButtonState up = Hovering();
    up.OnMouseMove(BORDER_FLAT, kKeyShift, false);
    up.OnLButtonUp();
    EXPECT_TRUE(up.ReleaseIfCaptured());

    CoolButtonState cancel = Hovering();
    cancel.OnMouseMove(BORDER_FLAT, kKeyControl, false);
    EXPECT_TRUE(cancel.OnCancelMode().Contains(A::Release));
    EXPECT_FALSE(cancel.m_bCaptured);

    CoolButtonState disable = Hovering();
    disable.OnMouseMove(BORDER_FLAT, kKeyShift, false);
    EXPECT_TRUE(disable.OnEnable(false).Contains(A::Release));
    EXPECT_FALSE(disable.m_bCaptured);
}

TEST(CoolButtonState, CancelModeReleasesAfterTheBaseButtonAndKeepsTheHoverLook) {
    CoolButtonState s = Hovering();
    EXPECT_EQ(List(s.OnCancelMode()), (std::vector<A>{A::PassToBase, A::Release, A::RepaintNow}));
    EXPECT_FALSE(s.m_bCaptured);
    EXPECT_EQ(LookOf(s), Look::Hover);

    // Not captured: only the base button hears of it.
    EXPECT_EQ(List(s.OnCancelMode()), (std::vector<A>{A::PassToBase}));
    EXPECT_EQ(LookOf(s), Look::Hover);

    // The hover look ends when the pointer next enters (capturing again) and leaves.
    s.OnMouseMove(BORDER_FLAT, 0, true);
    EXPECT_TRUE(s.m_bCaptured);
    s.OnMouseMove(BORDER_FLAT, 0, false);
    EXPECT_EQ(LookOf(s), Look::Rest);
    EXPECT_FALSE(s.m_bCaptured);

    // Cancel mode in the middle of a press keeps the pressed look too.
    CoolButtonState held = Hovering();
    held.OnLButtonDown();
    held.OnCancelMode();
    EXPECT_EQ(LookOf(held), Look::Pressed);
}

TEST(CoolButtonState, DisablingWhileHoveredOrPressedForgetsBothWithoutRepainting) {
    CoolButtonState s = Hovering();
    s.OnLButtonDown();
    EXPECT_EQ(List(s.OnEnable(false)), (std::vector<A>{A::Release, A::PassToBase}));
    EXPECT_FALSE(s.m_bPressed);
    EXPECT_FALSE(s.m_bHover);
    EXPECT_FALSE(s.m_bCaptured);

    // Re-enabling changes nothing: the rest look until the pointer moves over it.
    EXPECT_EQ(List(s.OnEnable(true)), (std::vector<A>{A::PassToBase}));
    EXPECT_EQ(LookOf(s), Look::Rest);
    s.OnMouseMove(BORDER_FLAT, 0, true);
    EXPECT_EQ(LookOf(s), Look::Hover);

    // Enabling never touches the flags.
    CoolButtonState hovering = Hovering();
    hovering.OnEnable(true);
    EXPECT_TRUE(hovering.m_bHover);
    EXPECT_TRUE(hovering.m_bCaptured);
}

TEST(CoolButtonState, ThreeDStyleIgnoresMovesWithoutTheLeftButton) {
    CoolButtonState s;
    for (std::uint32_t keys : {0u, kKeyShift, kKeyRightButton}) {
        for (bool inside : {true, false}) {
            EXPECT_EQ(List(s.OnMouseMove(BORDER_3D, keys, inside)),
                      (std::vector<A>{A::PassToBase}));
            EXPECT_FALSE(s.m_bHover);
            EXPECT_FALSE(s.m_bCaptured);
        }
    }
    // Even a button that is hovering keeps its flags when such a move leaves it.
    CoolButtonState held;
    held.OnLButtonDown();
    held.OnMouseMove(BORDER_3D, 0, false);
    EXPECT_TRUE(held.m_bHover);
    EXPECT_TRUE(held.m_bCaptured);

    // With the left button held the 3-D style tracks like the others.
    CoolButtonState drag;
    drag.OnMouseMove(BORDER_3D, kKeyLeftButton, true);
    EXPECT_TRUE(drag.m_bPressed);
    EXPECT_TRUE(drag.m_bCaptured);
    drag.OnMouseMove(BORDER_3D, kKeyLeftButton, false);
    EXPECT_FALSE(drag.m_bPressed);
    EXPECT_TRUE(drag.m_bHover);

    // The other styles track moves without a button.
    for (std::int32_t style : {BORDER_FLAT, BORDER_SEMIFLAT, BORDER_NONE}) {
        CoolButtonState other;
        other.OnMouseMove(style, 0, true);
        EXPECT_TRUE(other.m_bHover) << style;
    }
}
