#include "app/AppIconArt.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The drawing lives on a 64 x 64 grid; each pixel averages 4 x 4 samples.
constexpr double kGrid = 64.0;
constexpr int kSamples = 4;

struct Rgba {
    double r, g, b, a;
};

struct RoundRect {
    double x, y, w, h, radius;

    // Grown (d > 0) or shrunk (d < 0) by d on every side.
    RoundRect Grown(double d) const { return {x - d, y - d, w + 2 * d, h + 2 * d, radius + d}; }

    bool Contains(double px, double py) const {
        if (px < x || px > x + w || py < y || py > y + h) return false;
        const double cx = std::clamp(px, x + radius, x + w - radius);
        const double cy = std::clamp(py, y + radius, y + h - radius);
        return (px - cx) * (px - cx) + (py - cy) * (py - cy) <= radius * radius;
    }
};

constexpr Rgba Opaque(int rgb) {
    return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, 1.0};
}

constexpr Rgba kPin = Opaque(0x8a94a6);
constexpr Rgba kBodyTop = Opaque(0x2f6fc9);
constexpr Rgba kBodyBottom = Opaque(0x1b458a);
constexpr Rgba kOutline = Opaque(0x122f5e);
constexpr Rgba kWhite = Opaque(0xffffff);
constexpr RoundRect kBody{9.5, 9.5, 45, 45, 6};
constexpr double kOutlineHalfWidth = 0.75;
constexpr RoundRect kBar{19, 45, 26, 4, 1.5};
// The arrow: firmware going up onto the chip.
constexpr std::array<std::array<double, 2>, 7> kArrow{
    {{32, 16}, {45, 30}, {37, 30}, {37, 42}, {27, 42}, {27, 30}, {19, 30}}};

bool InArrow(double px, double py) {
    bool inside = false;
    for (std::size_t i = 0, j = kArrow.size() - 1; i < kArrow.size(); j = i++) {
        const auto& a = kArrow[i];
        const auto& b = kArrow[j];
        if ((a[1] > py) != (b[1] > py) && px < (b[0] - a[0]) * (py - a[1]) / (b[1] - a[1]) + a[0]) {
            inside = !inside;
        }
    }
    return inside;
}

bool InPin(double px, double py) {
    // Four pins on each side of the package.
    for (int i = 0; i < 4; ++i) {
        const double at = 17 + i * 9.0;
        for (const RoundRect& pin : {RoundRect{at, 3, 4, 8, 1}, RoundRect{at, 53, 4, 8, 1},
                                     RoundRect{3, at, 8, 4, 1}, RoundRect{53, at, 8, 4, 1}}) {
            if (pin.Contains(px, py)) return true;
        }
    }
    return false;
}

Rgba Sample(double px, double py) {
    if (InArrow(px, py) || kBar.Contains(px, py)) return kWhite;
    if (kBody.Grown(kOutlineHalfWidth).Contains(px, py) &&
        !kBody.Grown(-kOutlineHalfWidth).Contains(px, py)) {
        return kOutline;
    }
    if (kBody.Contains(px, py)) {
        const double t = std::clamp((py - 9) / (55 - 9), 0.0, 1.0);
        return {kBodyTop.r + (kBodyBottom.r - kBodyTop.r) * t,
                kBodyTop.g + (kBodyBottom.g - kBodyTop.g) * t,
                kBodyTop.b + (kBodyBottom.b - kBodyTop.b) * t, 1.0};
    }
    if (InPin(px, py)) return kPin;
    return {0, 0, 0, 0};
}

std::uint32_t Channel(double v) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

}  // namespace

std::vector<std::uint32_t> RenderAppIconArgb(int size) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size) *
                                      static_cast<std::size_t>(size));
    const double scale = kGrid / size;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            Rgba sum{0, 0, 0, 0};  // premultiplied
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const Rgba c = Sample((x + (sx + 0.5) / kSamples) * scale,
                                          (y + (sy + 0.5) / kSamples) * scale);
                    sum = {sum.r + c.r * c.a, sum.g + c.g * c.a, sum.b + c.b * c.a, sum.a + c.a};
                }
            }
            const double alpha = sum.a / (kSamples * kSamples);
            const double un = sum.a > 0 ? 1.0 / sum.a : 0.0;
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(size) +
                   static_cast<std::size_t>(x)] = Channel(alpha) << 24 | Channel(sum.r * un) << 16 |
                                                  Channel(sum.g * un) << 8 | Channel(sum.b * un);
        }
    }
    return pixels;
}
