#include "ui/CoolButtonGeometry.h"

#include <algorithm>
#include <cmath>

std::array<CoolFill, 4> FrameFills(const CoolFrame& frame) {
    const CoolRect& r = frame.rect;
    return {{
        {{r.left, r.top, r.right - 1, r.top + 1}, frame.topLeft},      // top, short of the corner
        {{r.left, r.top, r.left + 1, r.bottom - 1}, frame.topLeft},    // left, short of the corner
        {{r.right - 1, r.top, r.right, r.bottom}, frame.bottomRight},  // right, full height
        {{r.left, r.bottom - 1, r.right, r.bottom}, frame.bottomRight},  // bottom, full width
    }};
}

CoolFrames LayoutFrames(const CoolButtonLook& look, const CoolButtonState& state, CoolRect item,
                        std::uint32_t itemState) {
    using enum SysColor;
    CoolFrames out;
    CoolRect r = item;
    auto frame = [&](SysColor topLeft, SysColor bottomRight) {
        out.frames[out.count++] = {r, topLeft, bottomRight};
    };

    if (look.m_nBorderStyle == BORDER_NONE) {
        r = r.Inset(2);
    } else if (state.PressedLook((itemState & kItemSelected) != 0)) {
        frame(DarkShadow, ButtonHighlight);
        r = r.Inset(1);
        if (look.m_nBorderStyle != BORDER_FLAT) frame(ButtonShadow, Light);
        r = r.Inset(1);
        r.left += look.m_ptPressedOffset.x;
        r.top += look.m_ptPressedOffset.y;
    } else if (look.m_nBorderStyle == BORDER_FLAT && !state.m_bHover) {
        r = r.Inset(2);
    } else {
        frame(ButtonHighlight, DarkShadow);
        r = r.Inset(1);
        if (look.m_nBorderStyle == BORDER_3D ||
            (look.m_nBorderStyle == BORDER_SEMIFLAT && state.m_bHover)) {
            frame(Light, ButtonShadow);
        }
        r = r.Inset(1);
    }
    out.content = r;
    return out;
}

CoolRect FocusFrameRect(const CoolButtonLook& look, CoolRect item) {
    return item.Inset(look.m_nBorderStyle == BORDER_FLAT ? 2 : 3);
}

CoolContent LayoutContent(const CoolButtonLook& look, const CoolButtonState& state,
                          CoolRect content, std::uint32_t itemState, bool captionEmpty,
                          const CoolImagesSet& images) {
    using enum SysColor;
    CoolContent out;
    const CoolRect& r = content;
    out.textArea = r;
    out.imageArea = r;

    if (look.m_cxImage == 0 || look.m_nContent == CONTENT_TEXT) {
        out.imageArea = {};
    } else {
        if (!captionEmpty && look.m_nContent != CONTENT_IMAGE) {
            // Image and caption share the face, with no gap between their areas.
            if (look.m_bImageRight) {
                out.imageArea.left = r.right - look.m_cxImage - 5;
                out.imageArea.right = r.right - 5;
                out.textArea.right = r.right - look.m_cxImage - 5;
            } else {
                out.imageArea.left = r.left + 5;
                out.imageArea.right = r.left + 5 + look.m_cxImage;
                out.textArea.left = r.left + 5 + look.m_cxImage;
            }
        }
        // Integer division truncates toward zero, as the centring rule expects. Only dy is
        // clamped: a taller image starts at the top, a wider one overhangs both sides.
        const std::int32_t dy = std::max((r.bottom - r.top - look.m_cyImage) / 2, 0);
        const std::int32_t dx = (out.imageArea.Width() - look.m_cxImage) / 2;
        out.imageArea = out.imageArea.Inset(dx, dy);
    }

    if (look.m_nContent != CONTENT_IMAGE) {
        if ((itemState & kItemDisabled) != 0) {
            out.captions[out.captionCount++] = {out.textArea.Offset(1, 1),
                                                {true, ButtonHighlight, 0}};
            out.captions[out.captionCount++] = {out.textArea, {true, GrayText, 0}};
        } else {
            CoolColor color{true, ButtonText, 0};
            if (look.m_crText != kColorDefault) color = {false, ButtonText, look.m_crText};
            if (state.m_bHover && look.m_crHoverText != kColorDefault) {
                color = {false, ButtonText, look.m_crHoverText};
            }
            out.captions[out.captionCount++] = {out.textArea, color};
        }
    }

    if (!out.imageArea.IsEmpty() && look.m_nContent != CONTENT_TEXT) {
        const bool disabled = (itemState & kItemDisabled) != 0;
        if (images.iconNormal) {
            // The icon choice ignores the disabled state; the flag embosses whichever it is.
            out.image = state.m_bHover && images.iconHover ? CoolImageSlot::IconHover
                                                           : CoolImageSlot::IconNormal;
            out.imageFlags = kImageIcon;
        } else {
            if (disabled) {
                out.image = CoolImageSlot::BitmapDisabled;
            } else {
                out.image = state.m_bHover && images.bitmapHover ? CoolImageSlot::BitmapHover
                                                                 : CoolImageSlot::BitmapNormal;
            }
            out.imageFlags = kImageBitmap;
        }
        if (disabled) out.imageFlags |= kImageEmbossed;
    }
    return out;
}

CoolFace LayoutFace(const CoolButtonLook& look, const CoolButtonState& state, CoolRect item,
                    std::uint32_t itemState, bool captionEmpty, const CoolImagesSet& images) {
    CoolFace face;
    face.item = item;
    face.hasFocus = (itemState & kItemFocus) != 0;
    face.focus = FocusFrameRect(look, item);
    face.frames = LayoutFrames(look, state, item, itemState);
    face.content = LayoutContent(look, state, face.frames.content, itemState, captionEmpty, images);
    return face;
}

CoolSize ContentSize(const CoolButtonLook& look, CoolSize caption, std::int32_t n) {
    switch (look.m_nContent) {
        case CONTENT_IMAGE:
            return {look.m_cxImage + 10, look.m_cyImage + 10};
        case CONTENT_TEXT:
            return {caption.cx + 10, caption.cy + 10};
        case CONTENT_IMAGE_TEXT:
            return {look.m_cxImage + caption.cx + 10 + (caption.cx > 0 ? 10 : 0),
                    std::max(look.m_cyImage, caption.cy) + 10};
        default:
            return {n, n};
    }
}

namespace {

double Linear(std::uint8_t channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(ColorRef c) {
    return 0.2126 * Linear(ColorRefRed(c)) + 0.7152 * Linear(ColorRefGreen(c)) +
           0.0722 * Linear(ColorRefBlue(c));
}

std::uint8_t Toward(std::uint8_t from, std::uint8_t to, int step, int steps) {
    return static_cast<std::uint8_t>(from + (to - from) * step / steps);
}

}  // namespace

double ContrastRatio(ColorRef a, ColorRef b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

ColorRef LegibleGrayText(ColorRef grayText, ColorRef face) {
    // A mid-gray face reaches 3:1 against neither end only in theory; black or white then wins.
    const std::uint8_t target = Luminance(face) > 0.18 ? 0x00 : 0xFF;
    constexpr int kSteps = 64;
    for (int step = 0; step <= kSteps; ++step) {
        const ColorRef c = MakeColorRef(Toward(ColorRefRed(grayText), target, step, kSteps),
                                        Toward(ColorRefGreen(grayText), target, step, kSteps),
                                        Toward(ColorRefBlue(grayText), target, step, kSteps));
        if (ContrastRatio(c, face) >= kDisabledCaptionContrast) return c;
    }
    return MakeColorRef(target, target, target);
}
