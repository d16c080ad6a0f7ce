#include "app/qt/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

QImage RenderAppIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);  // drawn on a 64 x 64 grid

    // Pins on all four sides of the package.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x8a, 0x94, 0xa6));
    for (int i = 0; i < 4; ++i) {
        const double at = 17 + i * 9.0;
        p.drawRoundedRect(QRectF(at, 3, 4, 8), 1, 1);
        p.drawRoundedRect(QRectF(at, 53, 4, 8), 1, 1);
        p.drawRoundedRect(QRectF(3, at, 8, 4), 1, 1);
        p.drawRoundedRect(QRectF(53, at, 8, 4), 1, 1);
    }

    // The package.
    QLinearGradient body(0, 9, 0, 55);
    body.setColorAt(0, QColor(0x2f, 0x6f, 0xc9));
    body.setColorAt(1, QColor(0x1b, 0x45, 0x8a));
    p.setBrush(body);
    p.setPen(QPen(QColor(0x12, 0x2f, 0x5e), 1.5));
    p.drawRoundedRect(QRectF(9.5, 9.5, 45, 45), 6, 6);

    // The arrow: firmware going up onto the chip.
    QPainterPath arrow;
    arrow.moveTo(32, 16);
    arrow.lineTo(45, 30);
    arrow.lineTo(37, 30);
    arrow.lineTo(37, 42);
    arrow.lineTo(27, 42);
    arrow.lineTo(27, 30);
    arrow.lineTo(19, 30);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(arrow);
    p.drawRoundedRect(QRectF(19, 45, 26, 4), 1.5, 1.5);
    p.end();
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(RenderAppIcon(size)));
    return icon;
}
