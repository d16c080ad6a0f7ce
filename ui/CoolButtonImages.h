#pragma once
// The images a hover button holds, whatever the toolkit's handle types: the normal and hover
// icon or bitmap, whether the button owns them, which of them are set (what the face geometry
// asks), and taking and forgetting them together with the size they are drawn at. Each
// toolkit's button releases the handles its own way and keeps its disabled bitmap itself.

#include <cstdint>

#include "ui/CoolButtonGeometry.h"

template <typename Icon, typename Bitmap>
class CoolButtonImages {
protected:
    Icon m_hIconNormal{};
    Bitmap m_hBitmapNormal{};
    Icon m_hIconHover{};
    Bitmap m_hBitmapHover{};
    bool m_bOwnImages = false;  // the four above belong to the button

    CoolImagesSet ImagesSet() const {
        CoolImagesSet images;
        images.iconNormal = m_hIconNormal != Icon{};
        images.iconHover = m_hIconHover != Icon{};
        images.bitmapHover = m_hBitmapHover != Bitmap{};
        return images;
    }

    // Takes icons (or bitmaps) drawn at cx x cy; call after the earlier images are released.
    void HoldIcons(Icon normal, Icon hover, std::int32_t cx, std::int32_t cy, bool own,
                   CoolButtonLook& look) {
        m_hIconNormal = normal;
        m_hIconHover = hover;
        HoldSize(cx, cy, own, look);
    }
    void HoldBitmaps(Bitmap normal, Bitmap hover, std::int32_t cx, std::int32_t cy, bool own,
                     CoolButtonLook& look) {
        m_hBitmapNormal = normal;
        m_hBitmapHover = hover;
        HoldSize(cx, cy, own, look);
    }

    // Forgets the four images, the ownership and the image size, once released.
    void ForgetImages(CoolButtonLook& look) {
        m_hIconNormal = Icon{};
        m_hBitmapNormal = Bitmap{};
        m_hIconHover = Icon{};
        m_hBitmapHover = Bitmap{};
        m_bOwnImages = false;
        look.m_cxImage = 0;
        look.m_cyImage = 0;
    }

private:
    void HoldSize(std::int32_t cx, std::int32_t cy, bool own, CoolButtonLook& look) {
        look.m_cxImage = cx;
        look.m_cyImage = cy;
        m_bOwnImages = own;
    }
};
