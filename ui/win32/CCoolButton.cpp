#include "ui/win32/CCoolButton.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

constexpr UINT_PTR kSubclassId = 1;

RECT ToRect(const CoolRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

// The shared names carry the platform's values, so flags and colour numbers pass unchanged.
static_assert(kKeyLeftButton == MK_LBUTTON && kKeyRightButton == MK_RBUTTON &&
              kKeyShift == MK_SHIFT && kKeyControl == MK_CONTROL &&
              kKeyMiddleButton == MK_MBUTTON && kKeyXButton1 == MK_XBUTTON1 &&
              kKeyXButton2 == MK_XBUTTON2);
static_assert(kItemSelected == ODS_SELECTED && kItemDisabled == ODS_DISABLED &&
              kItemFocus == ODS_FOCUS);
static_assert(kImageIcon == DST_ICON && kImageBitmap == DST_BITMAP &&
              kImageEmbossed == DSS_DISABLED);
static_assert(static_cast<int>(SysColor::ButtonFace) == COLOR_BTNFACE &&
              static_cast<int>(SysColor::ButtonShadow) == COLOR_BTNSHADOW &&
              static_cast<int>(SysColor::GrayText) == COLOR_GRAYTEXT &&
              static_cast<int>(SysColor::ButtonText) == COLOR_BTNTEXT &&
              static_cast<int>(SysColor::ButtonHighlight) == COLOR_BTNHIGHLIGHT &&
              static_cast<int>(SysColor::DarkShadow) == COLOR_3DDKSHADOW &&
              static_cast<int>(SysColor::Light) == COLOR_3DLIGHT);

constexpr SysColor kFace = SysColor::ButtonFace;
constexpr SysColor kGrayText = SysColor::GrayText;

COLORREF Sys(SysColor color) {
    return GetSysColor(static_cast<int>(color));
}

// The colour a caption pass is drawn in. The disabled caption's gray is kept legible against
// the face whatever the system palette says.
COLORREF CaptionColor(const CoolColor& color) {
    if (!color.isSystem) return color.rgb;
    if (color.system == kGrayText) {
        return LegibleGrayText(Sys(kGrayText), Sys(kFace));
    }
    return Sys(color.system);
}

void FillSolid(HDC dc, const CoolRect& r, COLORREF color) {
    if (r.IsEmpty()) return;
    const RECT rc = ToRect(r);
    SetBkColor(dc, color);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
}

std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

CCoolButton::~CCoolButton() {
    FreeImages();
    if (m_hWnd != nullptr) RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
}

bool CCoolButton::SubclassDlgItem(int id, HWND parent) {
    HWND hwnd = GetDlgItem(parent, id);
    if (hwnd == nullptr) return false;
    // Never the default button, and drawn by us: clear BS_DEFPUSHBUTTON, then set the type.
    LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    style &= ~static_cast<LONG_PTR>(BS_DEFPUSHBUTTON);
    style |= BS_OWNERDRAW;
    SetWindowLongPtrW(hwnd, GWL_STYLE, style);
    if (!SetWindowSubclass(hwnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        return false;
    }
    m_hWnd = hwnd;
    return true;
}

LRESULT CALLBACK CCoolButton::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                           DWORD_PTR self) {
    auto* button = reinterpret_cast<CCoolButton*>(self);
    if (button == nullptr || button->m_hWnd != hwnd) return DefSubclassProc(hwnd, msg, wp, lp);
    return button->OnMessage(msg, wp, lp);
}

LRESULT CCoolButton::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    // The tooltip sees the pointer messages before anything else, as a message filter would.
    if (m_ToolTip != nullptr && IsWindow(m_ToolTip) &&
        (msg == WM_MOUSEMOVE || msg == WM_LBUTTONDOWN || msg == WM_LBUTTONUP)) {
        MSG record{m_hWnd, msg, wp, lp, static_cast<DWORD>(GetMessageTime()), {}};
        const DWORD pos = GetMessagePos();
        record.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
        SendMessageA(m_ToolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&record));
    }

    switch (msg) {
        case WM_ERASEBKGND:
            return 1;  // DrawItem paints the whole face
        case WM_MOUSEMOVE: {
            RECT client;
            GetClientRect(m_hWnd, &client);
            const POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            return Run(OnMouseMove(m_nBorderStyle, static_cast<std::uint32_t>(wp),
                                   PtInRect(&client, pt) != FALSE),
                       msg, wp, lp);
        }
        case WM_LBUTTONDOWN:
            return Run(OnLButtonDown(), msg, wp, lp);
        case WM_LBUTTONUP:
            return Run(OnLButtonUp(), msg, wp, lp);
        case WM_CANCELMODE:
            return Run(OnCancelMode(), msg, wp, lp);
        case WM_ENABLE:
            return Run(OnEnable(wp != FALSE), msg, wp, lp);
        case WM_NCDESTROY: {
            HWND hwnd = m_hWnd;
            RemoveWindowSubclass(hwnd, SubclassProc, kSubclassId);
            m_hWnd = nullptr;
            return DefSubclassProc(hwnd, msg, wp, lp);
        }
        default:
            return DefSubclassProc(m_hWnd, msg, wp, lp);
    }
}

LRESULT CCoolButton::Run(const CoolButtonActions& actions, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    for (CoolButtonAction action : actions) {
        switch (action) {
            case CoolButtonAction::Capture:
                SetCapture(m_hWnd);
                break;
            case CoolButtonAction::Release:
                ReleaseCapture();
                break;
            case CoolButtonAction::ReleaseIfCaptured:
                if (ReleaseIfCaptured()) ReleaseCapture();
                break;
            case CoolButtonAction::RepaintNow:
                RepaintNow();
                break;
            case CoolButtonAction::PassToBase:
                result = DefSubclassProc(m_hWnd, msg, wp, lp);
                break;
        }
    }
    return result;
}

void CCoolButton::RepaintNow() {
    InvalidateRect(m_hWnd, nullptr, TRUE);
    UpdateWindow(m_hWnd);
}

void CCoolButton::Invalidate() {
    if (m_hWnd != nullptr) InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CCoolButton::SetIcon(HICON normal, HICON hover, std::int32_t cx, std::int32_t cy, bool own) {
    FreeImages();
    HoldIcons(normal, hover, cx, cy, own, *this);
    Invalidate();
}

void CCoolButton::SetBitmap(HBITMAP normal, HBITMAP hover, std::int32_t cx, std::int32_t cy,
                            bool own) {
    FreeImages();
    HoldBitmaps(normal, hover, cx, cy, own, *this);
    // The disabled look always draws the disabled bitmap, so it is made with every bitmap.
    CreateDisabledBitmap();
    Invalidate();
}

void CCoolButton::FreeImages() {
    if (m_bOwnImages) {
        if (m_hBitmapNormal != nullptr) DeleteObject(m_hBitmapNormal);
        if (m_hIconNormal != nullptr) DestroyIcon(m_hIconNormal);
        if (m_hBitmapHover != nullptr) DeleteObject(m_hBitmapHover);
        if (m_hIconHover != nullptr) DestroyIcon(m_hIconHover);
    }
    if (m_hBitmapDisabled != nullptr) DeleteObject(m_hBitmapDisabled);
    m_hBitmapDisabled = nullptr;
    ForgetImages(*this);
}

SIZE CCoolButton::SizeToContent(std::int32_t n) {
    // Measured in the device context as the window hands it out, without its font.
    HDC dc = GetDC(m_hWnd);
    if (dc == nullptr) return {0, 0};
    const std::wstring caption = WindowText(m_hWnd);
    SIZE extent{0, 0};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    const CoolSize size = ContentSize(*this, {extent.cx, extent.cy}, n);
    if (n == 0) {
        SetWindowPos(m_hWnd, nullptr, 0, 0, size.cx, size.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ReleaseDC(m_hWnd, dc);
    return {size.cx, size.cy};
}

bool CCoolButton::CreateDisabledBitmap() {
    if (m_hBitmapDisabled != nullptr) DeleteObject(m_hBitmapDisabled);
    m_hBitmapDisabled = nullptr;
    if (m_hBitmapNormal == nullptr) return false;

    HDC source = CreateCompatibleDC(nullptr);
    if (source == nullptr) return false;
    BITMAP info{};
    HGDIOBJ oldSource = nullptr;
    if (GetObjectA(m_hBitmapNormal, sizeof info, &info) == 0 ||
        (oldSource = SelectObject(source, m_hBitmapNormal)) == nullptr) {
        DeleteDC(source);
        return false;
    }
    m_hBitmapDisabled = CreateCompatibleBitmap(source, info.bmWidth, info.bmHeight);
    HDC target = m_hBitmapDisabled != nullptr ? CreateCompatibleDC(source) : nullptr;
    HGDIOBJ oldTarget = target != nullptr ? SelectObject(target, m_hBitmapDisabled) : nullptr;
    if (oldTarget == nullptr) {
        if (target != nullptr) DeleteDC(target);
        if (m_hBitmapDisabled != nullptr) DeleteObject(m_hBitmapDisabled);
        m_hBitmapDisabled = nullptr;
        SelectObject(source, oldSource);
        DeleteDC(source);
        return false;
    }
    BitBlt(target, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);

    const auto width = static_cast<std::size_t>(info.bmWidth);
    const auto height = static_cast<std::size_t>(info.bmHeight);
    std::vector<ColorRef> pixels(width * height);
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            pixels[y * width + x] = GetPixel(target, static_cast<int>(x), static_cast<int>(y));
        }
    }
    std::vector<ColorRef> whitened = pixels;
    WhitenFacePixels(whitened, width, height, [] { return Sys(kFace); });
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (whitened[i] != pixels[i]) {
            SetPixel(target, static_cast<int>(i % width), static_cast<int>(i / width), whitened[i]);
        }
    }

    SelectObject(target, oldTarget);
    SelectObject(source, oldSource);
    DeleteDC(target);
    DeleteDC(source);
    return true;
}

void CCoolButton::DrawItem(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const CoolRect r{item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom};
    const std::uint32_t itemState = item.itemState & (kItemSelected | kItemDisabled | kItemFocus);
    const CoolFace face =
        LayoutFace(*this, *this, r, itemState, WindowText(m_hWnd).empty(), ImagesSet());
    PaintFace(
        face, [dc](const CoolRect& rect, SysColor color) { FillSolid(dc, rect, Sys(color)); },
        [&](const CoolRect& at) { DrawFocusFrame(dc, at); },
        [&](const CoolRect& content) { DrawContent(dc, content, itemState); });
}

void CCoolButton::DrawFocusFrame(HDC dc, const CoolRect& r) {
    const RECT focus = ToRect(FocusFrameRect(*this, r));
    DrawFocusRect(dc, &focus);
}

void CCoolButton::DrawContent(HDC dc, const CoolRect& r, std::uint32_t itemState) {
    const std::wstring caption = WindowText(m_hWnd);
    const CoolContent layout =
        LayoutContent(*this, *this, r, itemState, caption.empty(), ImagesSet());

    SetBkMode(dc, TRANSPARENT);
    for (std::size_t i = 0; i < layout.captionCount; ++i) {
        RECT area = ToRect(layout.captions[i].rect);
        ::SetTextColor(dc, CaptionColor(layout.captions[i].color));
        DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &area,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }

    LPARAM handle = 0;
    switch (layout.image) {
        case CoolImageSlot::None:
            return;
        case CoolImageSlot::IconNormal:
            handle = reinterpret_cast<LPARAM>(m_hIconNormal);
            break;
        case CoolImageSlot::IconHover:
            handle = reinterpret_cast<LPARAM>(m_hIconHover);
            break;
        case CoolImageSlot::BitmapNormal:
            handle = reinterpret_cast<LPARAM>(m_hBitmapNormal);
            break;
        case CoolImageSlot::BitmapHover:
            handle = reinterpret_cast<LPARAM>(m_hBitmapHover);
            break;
        case CoolImageSlot::BitmapDisabled:
            handle = reinterpret_cast<LPARAM>(m_hBitmapDisabled);
            break;
    }
    DrawStateA(dc, nullptr, nullptr, handle, 0, layout.imageArea.left, layout.imageArea.top,
               m_cxImage, m_cyImage, layout.imageFlags);
}
