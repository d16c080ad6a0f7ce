#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/CoolButtonGeometry.h"

namespace {

using enum SysColor;

constexpr CoolRect kItem{0, 0, 60, 20};

// Paints the frames of a face into a grid of system colours, face colour everywhere else,
// the way the widget fills them.
class Grid {
public:
    Grid(std::int32_t w, std::int32_t h)
        : m_w(w), m_cells(static_cast<std::size_t>(w * h), ButtonFace) {}
    void Fill(const CoolRect& r, SysColor c) {
        for (std::int32_t y = r.top; y < r.bottom; ++y)
            for (std::int32_t x = r.left; x < r.right; ++x) At(x, y) = c;
    }
    SysColor& At(std::int32_t x, std::int32_t y) {
        return m_cells[static_cast<std::size_t>(y * m_w + x)];
    }

private:
    std::int32_t m_w;
    std::vector<SysColor> m_cells;
};

Grid Paint(const CoolFrames& frames) {
    Grid g(kItem.Width(), kItem.Height());
    for (std::size_t i = 0; i < frames.count; ++i)
        for (const CoolFill& f : FrameFills(frames.frames[i])) g.Fill(f.rect, f.color);
    return g;
}

CoolButtonState StateOf(bool hover, bool pressed) {
    CoolButtonState s;
    s.m_bHover = hover;
    s.m_bPressed = pressed;
    return s;
}

CoolButtonLook Style(std::int32_t border) {
    CoolButtonLook look;
    look.m_nBorderStyle = border;
    return look;
}

// Colours of the outer and inner ring along the top-left and bottom-right, as
// (outerTL, outerBR, innerTL, innerBR); nothing where the grid shows the face.
struct Rings {
    std::optional<SysColor> outerTL, outerBR, innerTL, innerBR;
    friend bool operator==(const Rings&, const Rings&) = default;
};
std::optional<SysColor> Seen(SysColor c) {
    return c == ButtonFace ? std::nullopt : std::optional<SysColor>(c);
}
Rings RingsOf(Grid g) {
    const std::int32_t r = kItem.right - 1;
    return {Seen(g.At(5, 0)), Seen(g.At(r, 5)), Seen(g.At(5, 1)), Seen(g.At(r - 1, 5))};
}

const Rings kNone{};
const Rings kRaisedOuter{ButtonHighlight, DarkShadow, std::nullopt, std::nullopt};
const Rings kRaisedBoth{ButtonHighlight, DarkShadow, Light, ButtonShadow};
const Rings kSunkenOuter{DarkShadow, ButtonHighlight, std::nullopt, std::nullopt};
const Rings kSunkenBoth{DarkShadow, ButtonHighlight, ButtonShadow, Light};

}  // namespace

TEST(CoolButtonGeometry, FrameCornersFollowTheSecondColour) {
    Grid g(6, 4);
    for (const CoolFill& f : FrameFills({{0, 0, 6, 4}, ButtonHighlight, DarkShadow}))
        g.Fill(f.rect, f.color);
    EXPECT_EQ(g.At(0, 0), ButtonHighlight);
    EXPECT_EQ(g.At(4, 0), ButtonHighlight);
    EXPECT_EQ(g.At(0, 2), ButtonHighlight);
    EXPECT_EQ(g.At(5, 0), DarkShadow);  // top-right
    EXPECT_EQ(g.At(0, 3), DarkShadow);  // bottom-left
    EXPECT_EQ(g.At(5, 3), DarkShadow);
    EXPECT_EQ(g.At(2, 1), ButtonFace);  // one pixel wide
}

TEST(CoolButtonGeometry, LooksOfEveryBorderStyle) {
    struct Case {
        std::int32_t border;
        Rings rest, hover, pressed;
    };
    const Case cases[] = {
        {BORDER_3D, kRaisedBoth, kRaisedBoth, kSunkenBoth},
        {BORDER_FLAT, kNone, kRaisedOuter, kSunkenOuter},
        {BORDER_SEMIFLAT, kRaisedOuter, kRaisedBoth, kSunkenBoth},
        {BORDER_NONE, kNone, kNone, kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.border);
        const CoolButtonLook look = Style(c.border);
        EXPECT_EQ(RingsOf(Paint(LayoutFrames(look, StateOf(false, false), kItem, 0))), c.rest);
        EXPECT_EQ(RingsOf(Paint(LayoutFrames(look, StateOf(true, false), kItem, 0))), c.hover);
        EXPECT_EQ(RingsOf(Paint(LayoutFrames(look, StateOf(true, true), kItem, 0))), c.pressed);
        // The base button's pushed state alone (keyboard) gives the pressed look.
        EXPECT_EQ(RingsOf(Paint(LayoutFrames(look, StateOf(false, false), kItem, kItemSelected))),
                  c.pressed);
        // Pressed without hover (dragged out) is not the pressed look.
        EXPECT_EQ(RingsOf(Paint(LayoutFrames(look, StateOf(false, true), kItem, 0))), c.rest);
    }
}

TEST(CoolButtonGeometry, ContentIsTheRoomOfBothRingsWithTheOffsetWhenPressed) {
    for (std::int32_t border : {BORDER_3D, BORDER_FLAT, BORDER_SEMIFLAT, BORDER_NONE}) {
        for (bool hover : {false, true}) {
            EXPECT_EQ(LayoutFrames(Style(border), StateOf(hover, false), kItem, 0).content,
                      kItem.Inset(2))
                << border;
        }
    }
    const CoolRect pressed{4, 4, 58, 18};  // inset 2, then left and top in by (2, 2)
    for (std::int32_t border : {BORDER_3D, BORDER_FLAT, BORDER_SEMIFLAT}) {
        EXPECT_EQ(LayoutFrames(Style(border), StateOf(true, true), kItem, 0).content, pressed)
            << border;
    }
    // No frame and no offset in the borderless style, in any state.
    EXPECT_EQ(LayoutFrames(Style(BORDER_NONE), StateOf(true, true), kItem, kItemSelected).content,
              kItem.Inset(2));
    EXPECT_EQ(LayoutFrames(Style(BORDER_NONE), StateOf(true, true), kItem, 0).count, 0u);

    CoolButtonLook odd;
    odd.m_ptPressedOffset = {5, -1};
    EXPECT_EQ(LayoutFrames(odd, StateOf(true, true), kItem, 0).content, (CoolRect{7, 1, 58, 18}));
}

TEST(CoolButtonGeometry, FocusRectangleIsInsetTwoInTheFlatStyleAndThreeOtherwise) {
    EXPECT_EQ(FocusFrameRect(Style(BORDER_FLAT), kItem), (CoolRect{2, 2, 58, 18}));
    for (std::int32_t border : {BORDER_3D, BORDER_SEMIFLAT, BORDER_NONE})
        EXPECT_EQ(FocusFrameRect(Style(border), kItem), (CoolRect{3, 3, 57, 17})) << border;

    const CoolFace face =
        LayoutFace(CoolButtonLook{}, StateOf(false, false), kItem, kItemFocus, false, {});
    EXPECT_TRUE(face.hasFocus);
    EXPECT_EQ(face.focus, (CoolRect{2, 2, 58, 18}));
    EXPECT_FALSE(LayoutFace(CoolButtonLook{}, {}, kItem, 0, false, {}).hasFocus);
}

// Both toolkits paint through PaintFace, so its order is the order on screen.
TEST(CoolButtonGeometry, PaintFaceFollowsTheOrderLayoutFaceStates) {
    const CoolFace face =
        LayoutFace(CoolButtonLook{}, StateOf(true, false), kItem, kItemFocus, false, {});
    ASSERT_EQ(face.frames.count, 1u);
    std::vector<std::string> steps;
    std::vector<CoolRect> rects;
    auto fill = [&](const CoolRect& r, SysColor c) {
        steps.push_back("fill" + std::to_string(static_cast<int>(c)));
        rects.push_back(r);
    };
    auto focus = [&](const CoolRect& r) {
        steps.push_back("focus");
        rects.push_back(r);
    };
    auto content = [&](const CoolRect& r) {
        steps.push_back("content");
        rects.push_back(r);
    };
    PaintFace(face, fill, focus, content);
    ASSERT_EQ(steps.size(), 7u);
    EXPECT_EQ(steps[0], "fill15") << "the face colour first";
    EXPECT_EQ(rects[0], kItem);
    EXPECT_EQ(steps[1], "focus") << "the focus rectangle before any frame";
    EXPECT_EQ(rects[1], kItem);
    for (std::size_t i = 0; i < 4; ++i) {
        const CoolFill part = FrameFills(face.frames.frames[0])[i];
        EXPECT_EQ(steps[2 + i], "fill" + std::to_string(static_cast<int>(part.color))) << i;
        EXPECT_EQ(rects[2 + i], part.rect) << i;
    }
    EXPECT_EQ(steps[6], "content");
    EXPECT_EQ(rects[6], face.frames.content);

    steps.clear();
    PaintFace(LayoutFace(CoolButtonLook{}, {}, kItem, 0, false, {}), fill, focus, content);
    EXPECT_EQ(steps, (std::vector<std::string>{"fill15", "content"})) << "no focus, no frame";
}

TEST(CoolButtonGeometry, CaptionColours) {
    const CoolRect r = kItem.Inset(2);
    const CoolColor btnText{true, ButtonText, 0};

    // The tool's buttons: one pass in the system text colour over the whole content.
    CoolContent c = LayoutContent(CoolButtonLook{}, StateOf(true, true), r, 0, false, {});
    ASSERT_EQ(c.captionCount, 1u);
    EXPECT_EQ(c.captions[0].rect, r);
    EXPECT_EQ(c.captions[0].color, btnText);

    CoolButtonLook coloured;
    coloured.m_crText = MakeColorRef(10, 20, 30);
    c = LayoutContent(coloured, StateOf(true, false), r, 0, false, {});
    EXPECT_EQ(c.captions[0].color, (CoolColor{false, ButtonText, MakeColorRef(10, 20, 30)}));

    coloured.m_crHoverText = MakeColorRef(200, 0, 0);
    c = LayoutContent(coloured, StateOf(false, false), r, 0, false, {});
    EXPECT_EQ(c.captions[0].color.rgb, MakeColorRef(10, 20, 30));
    // Hover colour follows m_bHover alone, so it shows in the pressed look too.
    c = LayoutContent(coloured, StateOf(true, true), r, 0, false, {});
    EXPECT_EQ(c.captions[0].color.rgb, MakeColorRef(200, 0, 0));
    // Black is a colour, not the default.
    CoolButtonLook black;
    black.m_crText = MakeColorRef(0, 0, 0);
    EXPECT_FALSE(LayoutContent(black, {}, r, 0, false, {}).captions[0].color.isSystem);

    // Disabled: embossed, highlight one pixel right and down first, then gray; own colours
    // play no part.
    c = LayoutContent(coloured, StateOf(true, false), r, kItemDisabled, false, {});
    ASSERT_EQ(c.captionCount, 2u);
    EXPECT_EQ(c.captions[0].rect, r.Offset(1, 1));
    EXPECT_EQ(c.captions[0].color, (CoolColor{true, ButtonHighlight, 0}));
    EXPECT_EQ(c.captions[1].rect, r);
    EXPECT_EQ(c.captions[1].color, (CoolColor{true, GrayText, 0}));

    // Image only: no caption at all.
    CoolButtonLook imageOnly;
    imageOnly.m_nContent = CONTENT_IMAGE;
    EXPECT_EQ(LayoutContent(imageOnly, {}, r, 0, false, {}).captionCount, 0u);
}

TEST(CoolButtonGeometry, ImageBesideTheCaptionLeftOrRight) {
    const CoolRect r{2, 2, 98, 30};  // 96 x 28
    CoolButtonLook look;
    look.m_cxImage = 16;
    look.m_cyImage = 16;

    CoolContent c = LayoutContent(look, {}, r, 0, false, {});
    EXPECT_EQ(c.imageArea, (CoolRect{7, 8, 23, 24}));  // from left + 5, centred vertically
    EXPECT_EQ(c.textArea, (CoolRect{23, 2, 98, 30}));  // no gap

    look.m_bImageRight = true;
    c = LayoutContent(look, {}, r, 0, false, {});
    EXPECT_EQ(c.imageArea, (CoolRect{77, 8, 93, 24}));  // ends at right - 5
    EXPECT_EQ(c.textArea, (CoolRect{2, 2, 77, 30}));

    // Unknown content values are drawn like image and caption.
    look.m_bImageRight = false;
    look.m_nContent = 7;
    c = LayoutContent(look, {}, r, 0, false, {});
    EXPECT_EQ(c.imageArea, (CoolRect{7, 8, 23, 24}));
    EXPECT_EQ(c.captionCount, 1u);
}

TEST(CoolButtonGeometry, LoneImagesAreCentredAndTallOrWideOnesOverhang) {
    const CoolRect r{2, 2, 42, 22};  // 40 x 20
    CoolButtonLook look;
    look.m_cxImage = 10;
    look.m_cyImage = 8;

    // Content 2 with an empty caption, and content 0 with one: centred both ways on r.
    EXPECT_EQ(LayoutContent(look, {}, r, 0, true, {}).imageArea, (CoolRect{17, 8, 27, 16}));
    look.m_nContent = CONTENT_IMAGE;
    EXPECT_EQ(LayoutContent(look, {}, r, 0, false, {}).imageArea, (CoolRect{17, 8, 27, 16}));

    // Taller than r: dy is clamped to 0, the image starts at the top edge.
    look.m_cyImage = 25;
    EXPECT_EQ(LayoutContent(look, {}, r, 0, false, {}).imageArea.top, r.top);

    // Wider than its area: dx goes negative, truncated toward zero, and the area overhangs
    // both sides: (40 - 45) / 2 = -2, not -3.
    look.m_cxImage = 45;
    const CoolRect wide = LayoutContent(look, {}, r, 0, false, {}).imageArea;
    EXPECT_EQ(wide.left, r.left - 2);
    EXPECT_EQ(wide.right, r.right + 2);
    // A face too small for image and caption: the image keeps its size and runs past r.
    look.m_nContent = CONTENT_IMAGE_TEXT;
    look.m_cxImage = 16;
    look.m_cyImage = 16;
    const CoolRect narrow{0, 0, 20, 12};
    const CoolContent c = LayoutContent(look, {}, narrow, 0, false, {});
    EXPECT_EQ(c.imageArea, (CoolRect{5, 0, 21, 12}));  // dy (12 - 16) / 2 clamped to 0
}

TEST(CoolButtonGeometry, WhichImageIsDrawnWithWhichFlags) {
    const CoolRect r{2, 2, 98, 30};
    CoolButtonLook look;
    look.m_cxImage = 16;
    look.m_cyImage = 16;
    const CoolButtonState rest = StateOf(false, false), hover = StateOf(true, false);
    const CoolImagesSet none{}, iconOnly{true, false, false}, icons{true, true, true};
    const CoolImagesSet bitmaps{false, false, true};

    // Icon form wins over bitmaps; hover icon only while hovering and only when set.
    EXPECT_EQ(LayoutContent(look, rest, r, 0, false, icons).image, CoolImageSlot::IconNormal);
    EXPECT_EQ(LayoutContent(look, hover, r, 0, false, icons).image, CoolImageSlot::IconHover);
    EXPECT_EQ(LayoutContent(look, hover, r, 0, false, iconOnly).image, CoolImageSlot::IconNormal);
    EXPECT_EQ(LayoutContent(look, rest, r, 0, false, icons).imageFlags, kImageIcon);
    // Disabled icons: same choice, embossed.
    const CoolContent di = LayoutContent(look, hover, r, kItemDisabled, false, icons);
    EXPECT_EQ(di.image, CoolImageSlot::IconHover);
    EXPECT_EQ(di.imageFlags, kImageIcon | kImageEmbossed);

    EXPECT_EQ(LayoutContent(look, rest, r, 0, false, bitmaps).image, CoolImageSlot::BitmapNormal);
    EXPECT_EQ(LayoutContent(look, hover, r, 0, false, bitmaps).image, CoolImageSlot::BitmapHover);
    EXPECT_EQ(LayoutContent(look, hover, r, 0, false, none).image, CoolImageSlot::BitmapNormal);
    // Disabled bitmaps: the disabled one, even when none was made, embossed.
    const CoolContent db = LayoutContent(look, hover, r, kItemDisabled, false, none);
    EXPECT_EQ(db.image, CoolImageSlot::BitmapDisabled);
    EXPECT_EQ(db.imageFlags, kImageBitmap | kImageEmbossed);

    // No image: a width of 0 whatever handles are set, or caption-only content.
    look.m_cxImage = 0;
    CoolContent c = LayoutContent(look, hover, r, 0, false, icons);
    EXPECT_EQ(c.image, CoolImageSlot::None);
    EXPECT_TRUE(c.imageArea.IsEmpty());
    EXPECT_EQ(c.textArea, r);
    look.m_cxImage = 16;
    look.m_nContent = CONTENT_TEXT;
    c = LayoutContent(look, hover, r, 0, false, icons);
    EXPECT_EQ(c.image, CoolImageSlot::None);
    EXPECT_EQ(c.textArea, r);
    // A content rectangle with no height leaves no room for an image.
    look.m_nContent = CONTENT_IMAGE;
    EXPECT_EQ(LayoutContent(look, rest, {2, 2, 98, 2}, 0, false, icons).image, CoolImageSlot::None);
}

TEST(CoolButtonGeometry, SizeToContentArithmetic) {
    CoolButtonLook look;
    look.m_cxImage = 16;
    look.m_cyImage = 20;
    const CoolSize caption{50, 13};

    look.m_nContent = CONTENT_IMAGE;
    EXPECT_EQ(ContentSize(look, caption, 0), (CoolSize{26, 30}));
    look.m_nContent = CONTENT_TEXT;
    EXPECT_EQ(ContentSize(look, caption, 0), (CoolSize{60, 23}));
    look.m_nContent = CONTENT_IMAGE_TEXT;
    EXPECT_EQ(ContentSize(look, caption, 0), (CoolSize{86, 30}));
    EXPECT_EQ(ContentSize(look, {50, 40}, 0), (CoolSize{86, 50}));
    // An empty caption drops the second 10.
    EXPECT_EQ(ContentSize(look, {0, 13}, 0), (CoolSize{26, 30}));
    // Unknown content: (n, n).
    look.m_nContent = 3;
    EXPECT_EQ(ContentSize(look, caption, 40), (CoolSize{40, 40}));
    look.m_nContent = -1;
    EXPECT_EQ(ContentSize(look, caption, 0), (CoolSize{0, 0}));
}

TEST(CoolButtonGeometry, DisabledBitmapPixelsTurnTheFaceColourWhite) {
    const ColorRef face = MakeColorRef(212, 208, 200);
    const ColorRef ink = MakeColorRef(0, 0, 128);
    const ColorRef nearFace = MakeColorRef(212, 208, 201);
    std::vector<ColorRef> px{face, ink, nearFace, kColorWhite, face, face};
    int reads = 0;
    WhitenFacePixels(px, 3, 2, [&] {
        ++reads;
        return face;
    });
    EXPECT_EQ(px, (std::vector<ColorRef>{kColorWhite, ink, nearFace, kColorWhite, kColorWhite,
                                         kColorWhite}));
    EXPECT_EQ(reads, 6);  // the face colour is read again for every pixel

    // A white face leaves the copy as it was.
    const std::vector<ColorRef> before{kColorWhite, ink, face, nearFace};
    std::vector<ColorRef> same = before;
    WhitenFacePixels(same, 2, 2, [] { return kColorWhite; });
    EXPECT_EQ(same, before);

    // Column by column: a face colour that changes midway shows the visiting order.
    std::vector<ColorRef> order(4, face);  // 2 x 2
    int n = 0;
    WhitenFacePixels(order, 2, 2, [&] { return n++ < 2 ? face : ink; });
    EXPECT_EQ(order, (std::vector<ColorRef>{kColorWhite, face, kColorWhite, face}));
}

TEST(CoolButtonGeometry, EmbossShapeIsTheNonWhiteOpaquePixels) {
    EXPECT_TRUE(IsEmbossShapePixel(MakeColorRef(0, 0, 0), 255));
    EXPECT_TRUE(IsEmbossShapePixel(MakeColorRef(255, 255, 254), 255));
    EXPECT_FALSE(IsEmbossShapePixel(kColorWhite, 255));
    EXPECT_FALSE(IsEmbossShapePixel(MakeColorRef(0, 0, 0), 0));
}

// A disabled caption stays readable: a gray too close to the face is moved away from it just
// far enough for 3:1, on light and on dark faces; a gray that is readable already is kept.
TEST(CoolButtonGeometry, DisabledCaptionGrayReachesThreeToOne) {
    const ColorRef lightFace = MakeColorRef(240, 240, 240);
    const ColorRef paleGray = MakeColorRef(190, 190, 190);  // about 1.5:1
    const ColorRef darkened = LegibleGrayText(paleGray, lightFace);
    EXPECT_GE(ContrastRatio(darkened, lightFace), 3.0);
    EXPECT_LT(ContrastRatio(darkened, lightFace), 3.3);  // no darker than it needs to be
    EXPECT_EQ(ColorRefRed(darkened), ColorRefBlue(darkened));
    EXPECT_LT(ColorRefRed(darkened), 190);

    const ColorRef darkFace = MakeColorRef(40, 40, 40);
    EXPECT_GE(ContrastRatio(LegibleGrayText(MakeColorRef(70, 70, 70), darkFace), darkFace), 3.0);

    const ColorRef readable = MakeColorRef(109, 109, 109);
    EXPECT_EQ(LegibleGrayText(readable, lightFace), readable);
}
