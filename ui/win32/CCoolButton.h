#pragma once
// CCoolButton on Win32: a push button of the dialog, subclassed and turned owner-drawn, that
// paints its face with GDI and follows the mouse pointer (rest, hover, pressed, focused and
// disabled looks). The state rules live in CoolButtonState and the face geometry in
// CoolButtonGeometry; this class feeds window messages into the one and draws from the other.
// Keyboard activation, focus, the pushed state and the click notification stay with the
// standard button, which sees every message after the state machine has.

#include <cstdint>

#include <windows.h>

#include "ui/CoolButtonGeometry.h"
#include "ui/CoolButtonImages.h"
#include "ui/CoolButtonSettings.h"
#include "ui/CoolButtonState.h"

class CCoolButton : public CoolButtonSettings,
                    protected CoolButtonState,
                    protected CoolButtonImages<HICON, HBITMAP> {
public:
    CCoolButton() = default;
    virtual ~CCoolButton();

    CCoolButton(const CCoolButton&) = delete;
    CCoolButton& operator=(const CCoolButton&) = delete;

    // Binds the dialog's button with this ID: drops BS_DEFPUSHBUTTON, makes it BS_OWNERDRAW
    // and routes its messages through this object.
    bool SubclassDlgItem(int id, HWND parent);
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The parent forwards WM_DRAWITEM of this button here. Paints in the order LayoutFace
    // states (PaintFace): fill, focus rectangle, frames, content.
    virtual void DrawItem(const DRAWITEMSTRUCT& item);

    // Settings: SetContent, SetBorderStyle, ... from CoolButtonSettings (kColorDefault: the
    // system's button text colour).
    // A tooltip window that gets the button's mouse messages relayed (TTM_RELAYEVENT); the
    // caller creates it and keeps it alive.
    void SetToolTip(HWND toolTip) { m_ToolTip = toolTip; }

    // Images: each call first releases the images held so far. own hands the handles to the
    // button. Setting bitmaps also builds the disabled bitmap.
    void SetIcon(HICON normal, HICON hover, std::int32_t cx, std::int32_t cy, bool own);
    void SetBitmap(HBITMAP normal, HBITMAP hover, std::int32_t cx, std::int32_t cy, bool own);

    virtual void FreeImages();
    virtual SIZE SizeToContent(std::int32_t n = 0);
    virtual void DrawFocusFrame(HDC dc, const CoolRect& r);
    virtual void DrawContent(HDC dc, const CoolRect& r, std::uint32_t itemState);
    virtual bool CreateDisabledBitmap();

    const CoolButtonState& MouseState() const { return *this; }

protected:
    // The normal and hover images are held in CoolButtonImages.
    HBITMAP m_hBitmapDisabled = nullptr;  // always the button's own

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                         DWORD_PTR self);
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Run(const CoolButtonActions& actions, UINT msg, WPARAM wp, LPARAM lp);
    void RepaintNow();
    void Invalidate();
    void RepaintFace() override { Invalidate(); }

    HWND m_hWnd = nullptr;
    HWND m_ToolTip = nullptr;
};
