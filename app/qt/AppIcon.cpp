#include "app/qt/AppIcon.h"

#include <cstring>

#include "app/AppIconArt.h"

QImage RenderAppIcon(int size) {
    const std::vector<std::uint32_t> pixels = RenderAppIconArgb(size);
    QImage image(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
        std::memcpy(image.scanLine(y),
                    pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(size),
                    static_cast<std::size_t>(size) * sizeof(std::uint32_t));
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(RenderAppIcon(size)));
    return icon;
}
