#pragma once
// Face geometry of the hover button, free of any GUI toolkit: which frames are drawn in which
// system colours, where the focus rectangle, the caption and the image go, which caption
// colour and which image are used, the size the content needs, and the pixel rule that makes
// the disabled bitmap. The widget maps the abstract system colours onto its palette and draws
// what these functions describe, in the order DrawItem draws it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ui/CoolButtonState.h"

// What the face shows (m_nContent); any other value is drawn like CONTENT_IMAGE_TEXT.
inline constexpr std::int32_t CONTENT_IMAGE = 0;
inline constexpr std::int32_t CONTENT_TEXT = 1;
inline constexpr std::int32_t CONTENT_IMAGE_TEXT = 2;

// Item-state flags of a paint, with the values the owner-draw record carries (ODS_SELECTED,
// ODS_DISABLED, ODS_FOCUS); our own names, so no file depends on which header came first.
inline constexpr std::uint32_t kItemSelected = 0x1;  // the base button is pushed
inline constexpr std::uint32_t kItemDisabled = 0x4;
inline constexpr std::uint32_t kItemFocus = 0x10;

// Image drawing flags, with the values of DrawState's DST_ICON, DST_BITMAP and DSS_DISABLED.
inline constexpr std::uint32_t kImageIcon = 0x3;
inline constexpr std::uint32_t kImageBitmap = 0x4;
inline constexpr std::uint32_t kImageEmbossed = 0x20;  // embossed

// System colours the face uses, numbered as the platform numbers them (COLOR_BTNFACE, ...).
enum class SysColor : std::int32_t {
    ButtonFace = 15,
    ButtonShadow = 16,
    GrayText = 17,
    ButtonText = 18,
    ButtonHighlight = 20,
    DarkShadow = 21,
    Light = 22,
};

// 0x00BBGGRR; kColorDefault (all bits set) means "the system colour".
using ColorRef = std::uint32_t;
inline constexpr ColorRef kColorDefault = 0xFFFFFFFFu;
inline constexpr ColorRef kColorWhite = 0x00FFFFFFu;
constexpr ColorRef MakeColorRef(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return ColorRef{r} | (ColorRef{g} << 8) | (ColorRef{b} << 16);
}
constexpr std::uint8_t ColorRefRed(ColorRef c) {
    return static_cast<std::uint8_t>(c & 0xFF);
}
constexpr std::uint8_t ColorRefGreen(ColorRef c) {
    return static_cast<std::uint8_t>((c >> 8) & 0xFF);
}
constexpr std::uint8_t ColorRefBlue(ColorRef c) {
    return static_cast<std::uint8_t>((c >> 16) & 0xFF);
}

struct CoolPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const CoolPoint&, const CoolPoint&) = default;
};

struct CoolSize {
    std::int32_t cx = 0;
    std::int32_t cy = 0;
    friend bool operator==(const CoolSize&, const CoolSize&) = default;
};

// Client pixels: left and top inclusive, right and bottom exclusive.
struct CoolRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    // Moves all four edges inward by dx and dy (negative values widen).
    CoolRect Inset(std::int32_t dx, std::int32_t dy) const {
        return {left + dx, top + dy, right - dx, bottom - dy};
    }
    CoolRect Inset(std::int32_t n) const { return Inset(n, n); }
    CoolRect Offset(std::int32_t dx, std::int32_t dy) const {
        return {left + dx, top + dy, right + dx, bottom + dy};
    }
    friend bool operator==(const CoolRect&, const CoolRect&) = default;
};

// The settings of a button, with their defaults (the look the tool's buttons keep).
struct CoolButtonLook {
    std::int32_t m_nContent = CONTENT_IMAGE_TEXT;
    std::int32_t m_nBorderStyle = BORDER_FLAT;
    bool m_bImageRight = false;
    std::int32_t m_cxImage = 0;  // 0: no image
    std::int32_t m_cyImage = 0;
    CoolPoint m_ptPressedOffset{2, 2};
    ColorRef m_crText = kColorDefault;
    ColorRef m_crHoverText = kColorDefault;
};

// A one-pixel frame: top and left line in the first colour, right and bottom line in the
// second. The right and bottom lines run the full height and width, so the top-right and
// bottom-left corner pixels take the second colour.
struct CoolFrame {
    CoolRect rect;
    SysColor topLeft;
    SysColor bottomRight;
};

struct CoolFill {
    CoolRect rect;
    SysColor color;
};

// The four solid fills that draw a frame, in the order top, left, right, bottom.
std::array<CoolFill, 4> FrameFills(const CoolFrame& frame);

// Frames of DrawItem step 6 and the content rectangle they leave.
struct CoolFrames {
    std::array<CoolFrame, 2> frames{};  // outer first
    std::size_t count = 0;
    CoolRect content;
};
CoolFrames LayoutFrames(const CoolButtonLook& look, const CoolButtonState& state, CoolRect item,
                        std::uint32_t itemState);

// Where the focus rectangle goes for an item rectangle (DrawFocusFrame).
CoolRect FocusFrameRect(const CoolButtonLook& look, CoolRect item);

// A colour for the caption: a system colour or an explicit one.
struct CoolColor {
    bool isSystem = true;
    SysColor system = SysColor::ButtonText;
    ColorRef rgb = 0;
    friend bool operator==(const CoolColor&, const CoolColor&) = default;
};

struct CoolCaptionPass {
    CoolRect rect;
    CoolColor color;
};

// Image handles a button holds; the geometry needs only which are set.
struct CoolImagesSet {
    bool iconNormal = false;
    bool iconHover = false;
    bool bitmapHover = false;
};

enum class CoolImageSlot : std::uint8_t {
    None,
    IconNormal,
    IconHover,
    BitmapNormal,
    BitmapHover,
    BitmapDisabled,  // chosen when disabled even if none has been made
};

// DrawContent: the areas, the caption passes (none, one, or two for the embossed disabled
// caption, in drawing order) and the image with its drawing flags.
struct CoolContent {
    CoolRect textArea;
    CoolRect imageArea;  // empty when no image is drawn
    std::array<CoolCaptionPass, 2> captions{};
    std::size_t captionCount = 0;
    CoolImageSlot image = CoolImageSlot::None;
    std::uint32_t imageFlags = 0;
};
CoolContent LayoutContent(const CoolButtonLook& look, const CoolButtonState& state,
                          CoolRect content, std::uint32_t itemState, bool captionEmpty,
                          const CoolImagesSet& images);

// Everything DrawItem draws, in its order: fill the item rectangle with ButtonFace, the
// focus rectangle (when hasFocus), the frames, the captions, the image.
struct CoolFace {
    CoolRect item;
    bool hasFocus = false;
    CoolRect focus;
    CoolFrames frames;
    CoolContent content;
};
CoolFace LayoutFace(const CoolButtonLook& look, const CoolButtonState& state, CoolRect item,
                    std::uint32_t itemState, bool captionEmpty, const CoolImagesSet& images);

// DrawItem of every toolkit, in the order LayoutFace states: fill(rect, colour) paints a solid
// rectangle, focus(item) the focus rectangle of the item (at face.focus), content(rect) the
// captions and the image inside the rectangle the frames leave (as face.content lays them out).
// The toolkits supply only these primitives, so the order is written once.
template <typename Fill, typename Focus, typename Content>
void PaintFace(const CoolFace& face, Fill fill, Focus focus, Content content) {
    fill(face.item, SysColor::ButtonFace);
    // On the full item rectangle and before any frame.
    if (face.hasFocus) focus(face.item);
    for (std::size_t i = 0; i < face.frames.count; ++i) {
        for (const CoolFill& part : FrameFills(face.frames.frames[i])) fill(part.rect, part.color);
    }
    content(face.frames.content);
}

// SizeToContent's arithmetic for a caption of the given extent; (n, n) for an unknown
// content value. The widget resizes itself only when n is 0.
CoolSize ContentSize(const CoolButtonLook& look, CoolSize caption, std::int32_t n);

// The pixel rule of CreateDisabledBitmap over a copy of the normal bitmap, column by column:
// every pixel equal to the button face colour (and not white) turns white. The face colour is
// read through faceColor again for every pixel, as the rule asks.
template <typename FaceColorFn>
void WhitenFacePixels(std::span<ColorRef> pixels, std::size_t width, std::size_t height,
                      FaceColorFn faceColor) {
    for (std::size_t x = 0; x < width; ++x) {
        for (std::size_t y = 0; y < height; ++y) {
            ColorRef& px = pixels[y * width + x];
            if (px == faceColor() && px != kColorWhite) px = kColorWhite;
        }
    }
}

// The embossed (disabled) rendering of an image draws the shape of its non-white opaque
// pixels, once in ButtonHighlight one pixel right and down, then in ButtonShadow.
// That is why the disabled bitmap turns the face colour white: face pixels drop out.
constexpr bool IsEmbossShapePixel(ColorRef rgb, std::uint8_t alpha) {
    return alpha >= 0x80 && (rgb & kColorWhite) != kColorWhite;
}

// Contrast of two colours as (L1 + 0.05) / (L2 + 0.05) over their relative luminances, the
// lighter over the darker.
double ContrastRatio(ColorRef a, ColorRef b);

// The caption colour of a disabled button: the system's gray text, moved toward black on a
// light face (toward white on a dark one) just far enough to stand at least 3:1 against the
// face. Some palettes pick a gray that is barely distinguishable from the face; the embossed
// highlight drawn under it stays as it is.
inline constexpr double kDisabledCaptionContrast = 3.0;
ColorRef LegibleGrayText(ColorRef grayText, ColorRef face);
