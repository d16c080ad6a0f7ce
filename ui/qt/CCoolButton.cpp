#include "ui/qt/CCoolButton.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>

#include <cmath>
#include <vector>

// How "capture" maps onto Qt.
//
// The state rules take the mouse capture on the first move over the button so that the move
// that leaves it is still seen, and give it back on such a move (with no key held), on the
// release of the left button, on cancel mode and on disabling. Qt delivers those events
// without an explicit grab: while a mouse button is held, its implicit grab sends every move
// and the release to the button that was pressed, wherever the pointer is; with no button
// held, Qt sends a Leave event when the pointer leaves the button, which this class feeds in
// as a move outside with the keys held at that moment. So Capture and Release only keep
// m_bCaptured; there is no grabMouse(). A real grab would route the mouse input of a modal
// message box, opened from the clicked signal while the grab is still held, to this button in
// the dialog underneath, and the box could not be used with the mouse. What a grab would add,
// moves far outside after leaving with Shift or Ctrl held, changes no look: hover is off by
// then.
//
// Enter is left to the move that follows it: Qt also sends Enter to a button that appears
// under a resting pointer without taking it as the widget under the pointer, and then sends it
// no Leave when the pointer moves off, which would leave the hover look stuck.

namespace {

std::uint32_t KeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    std::uint32_t flags = 0;
    if (buttons & Qt::LeftButton) flags |= kKeyLeftButton;
    if (buttons & Qt::RightButton) flags |= kKeyRightButton;
    if (buttons & Qt::MiddleButton) flags |= kKeyMiddleButton;
    if (buttons & Qt::XButton1) flags |= kKeyXButton1;
    if (buttons & Qt::XButton2) flags |= kKeyXButton2;
    if (modifiers & Qt::ShiftModifier) flags |= kKeyShift;
    if (modifiers & Qt::ControlModifier) flags |= kKeyControl;
    return flags;
}

QRect ToQRect(const CoolRect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

ColorRef ToColorRef(QRgb rgb) {
    return MakeColorRef(static_cast<std::uint8_t>(qRed(rgb)),
                        static_cast<std::uint8_t>(qGreen(rgb)),
                        static_cast<std::uint8_t>(qBlue(rgb)));
}

QColor ToQColor(ColorRef c) {
    return QColor(ColorRefRed(c), ColorRefGreen(c), ColorRefBlue(c));
}

// The image's shape (its non-white opaque pixels) in one solid colour.
QImage ShapeIn(const QImage& source, const QColor& color) {
    QImage out(source.size(), QImage::Format_ARGB32);
    out.fill(Qt::transparent);
    const QRgb solid = color.rgb() | 0xFF000000u;
    for (int y = 0; y < source.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < source.width(); ++x) {
            if (IsEmbossShapePixel(ToColorRef(in[x]), static_cast<std::uint8_t>(qAlpha(in[x])))) {
                dst[x] = solid;
            }
        }
    }
    return out;
}

}  // namespace

CCoolButton::CCoolButton(QWidget* parent) : QPushButton(parent) {
    Init();
}

CCoolButton::CCoolButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    Init();
}

void CCoolButton::Init() {
    // Never the dialog's default button: Return does not click it and it gets no default frame.
    setAutoDefault(false);
    setDefault(false);
    // Moves without a button held drive the hover look.
    setMouseTracking(true);
    // The paint covers every pixel; nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CCoolButton::~CCoolButton() {
    // Images first; the tooltip text and the button go with the base.
    FreeImages();
}

void CCoolButton::SetTooltipText(const QString& text) {
    setToolTip(text);
}

void CCoolButton::SetIcon(QIcon* normal, QIcon* hover, std::int32_t cx, std::int32_t cy) {
    FreeImages();
    HoldIcons(normal, hover, cx, cy, false, *this);
    update();
}

void CCoolButton::SetIcon(std::unique_ptr<QIcon> normal, std::unique_ptr<QIcon> hover,
                          std::int32_t cx, std::int32_t cy) {
    SetIcon(normal.release(), hover.release(), cx, cy);
    m_bOwnImages = true;
}

void CCoolButton::SetBitmap(QPixmap* normal, QPixmap* hover, std::int32_t cx, std::int32_t cy) {
    FreeImages();
    HoldBitmaps(normal, hover, cx, cy, false, *this);
    // The disabled look always draws the disabled bitmap, so it is made with every new bitmap.
    CreateDisabledBitmap();
    update();
}

void CCoolButton::SetBitmap(std::unique_ptr<QPixmap> normal, std::unique_ptr<QPixmap> hover,
                            std::int32_t cx, std::int32_t cy) {
    SetBitmap(normal.release(), hover.release(), cx, cy);
    m_bOwnImages = true;
}

void CCoolButton::FreeImages() {
    if (m_bOwnImages) {
        delete m_hBitmapNormal;
        delete m_hIconNormal;
        delete m_hBitmapHover;
        delete m_hIconHover;
    }
    m_hBitmapDisabled.reset();
    ForgetImages(*this);
}

QSize CCoolButton::SizeToContent(std::int32_t n) {
    // The caption is measured as written, '&' included, in the font a painter on this button
    // starts with (Qt hands out the widget's font; no other font is chosen here).
    const QFontMetrics metrics(font());
    const CoolSize caption{metrics.horizontalAdvance(text()), metrics.height()};
    const CoolSize size = ContentSize(*this, caption, n);
    if (n == 0) resize(size.cx, size.cy);
    return {size.cx, size.cy};
}

bool CCoolButton::CreateDisabledBitmap() {
    m_hBitmapDisabled.reset();
    if (m_hBitmapNormal == nullptr || m_hBitmapNormal->isNull()) return false;
    QImage image = m_hBitmapNormal->toImage().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) return false;

    const auto width = static_cast<std::size_t>(image.width());
    const auto height = static_cast<std::size_t>(image.height());
    std::vector<ColorRef> pixels(width * height);
    for (std::size_t y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(static_cast<int>(y)));
        for (std::size_t x = 0; x < width; ++x) pixels[y * width + x] = ToColorRef(line[x]);
    }
    WhitenFacePixels(pixels, width, height,
                     [this] { return ToColorRef(SystemColor(SysColor::ButtonFace).rgb()); });
    for (std::size_t y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        for (std::size_t x = 0; x < width; ++x) {
            const ColorRef c = pixels[y * width + x];
            line[x] = qRgba(ColorRefRed(c), ColorRefGreen(c), ColorRefBlue(c), qAlpha(line[x]));
        }
    }
    m_hBitmapDisabled = std::make_unique<QPixmap>(QPixmap::fromImage(image));
    if (m_hBitmapDisabled->isNull()) {
        m_hBitmapDisabled.reset();
        return false;
    }
    return true;
}

QColor CCoolButton::SystemColor(SysColor color) const {
    const QPalette& pal = palette();
    switch (color) {
        case SysColor::ButtonFace:
            return pal.color(QPalette::Active, QPalette::Button);
        case SysColor::ButtonShadow:
            return pal.color(QPalette::Active, QPalette::Dark);
        case SysColor::DarkShadow:
            return pal.color(QPalette::Active, QPalette::Shadow);
        case SysColor::Light:
            return pal.color(QPalette::Active, QPalette::Midlight);
        case SysColor::ButtonHighlight:
            return pal.color(QPalette::Active, QPalette::Light);
        case SysColor::ButtonText:
            return pal.color(QPalette::Active, QPalette::ButtonText);
        case SysColor::GrayText: {
            // The palette's disabled text is often barely distinguishable from the face.
            const QColor face = pal.color(QPalette::Active, QPalette::Button);
            const ColorRef gray =
                LegibleGrayText(ToColorRef(pal.color(QPalette::Disabled, QPalette::Text).rgb()),
                                ToColorRef(face.rgb()));
            return ToQColor(gray);
        }
    }
    return pal.color(QPalette::Active, QPalette::Button);
}

QColor CCoolButton::CaptionColor(const CoolColor& color) const {
    return color.isSystem ? SystemColor(color.system) : ToQColor(color.rgb);
}

void CCoolButton::FillRect(QPainter& painter, const CoolRect& rect, const QColor& color) {
    if (!rect.IsEmpty()) painter.fillRect(ToQRect(rect), color);
}

void CCoolButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    std::uint32_t itemState = 0;
    if (isDown()) itemState |= kItemSelected;
    if (!isEnabled()) itemState |= kItemDisabled;
    if (hasFocus()) itemState |= kItemFocus;
    DrawItem(painter, {0, 0, width(), height()}, itemState);
}

void CCoolButton::DrawItem(QPainter& painter, const CoolRect& item, std::uint32_t itemState) {
    const CoolFace face = LayoutFace(*this, *this, item, itemState, text().isEmpty(), ImagesSet());
    PaintFace(
        face,
        [&](const CoolRect& rect, SysColor color) { FillRect(painter, rect, SystemColor(color)); },
        [&](const CoolRect& at) { DrawFocusFrame(painter, at); },
        [&](const CoolRect& content) { DrawContent(painter, content, itemState); });
}

void CCoolButton::DrawFocusFrame(QPainter& painter, const CoolRect& item) {
    // The platform's focus rectangle: every other pixel of a one-pixel outline, inverted, so
    // that it shows on any face colour.
    const CoolRect r = FocusFrameRect(*this, item);
    if (r.IsEmpty()) return;
    QPolygon dots;
    auto dot = [&dots](int x, int y) {
        if (((x + y) & 1) == 0) dots << QPoint(x, y);
    };
    for (int x = r.left; x < r.right; ++x) {
        dot(x, r.top);
        if (r.bottom - 1 > r.top) dot(x, r.bottom - 1);
    }
    for (int y = r.top + 1; y < r.bottom - 1; ++y) {
        dot(r.left, y);
        if (r.right - 1 > r.left) dot(r.right - 1, y);
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawPoints(dots);
    painter.restore();
}

void CCoolButton::DrawContent(QPainter& painter, const CoolRect& content, std::uint32_t itemState) {
    const QString caption = text();
    const CoolContent layout =
        LayoutContent(*this, *this, content, itemState, caption.isEmpty(), ImagesSet());

    // Centred on one line, '&' marking the mnemonic; the widget's own font.
    for (std::size_t i = 0; i < layout.captionCount; ++i) {
        painter.setPen(CaptionColor(layout.captions[i].color));
        painter.drawText(ToQRect(layout.captions[i].rect),
                         Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, caption);
    }

    const bool embossed = (layout.imageFlags & kImageEmbossed) != 0;
    const QSize size(m_cxImage, m_cyImage);
    switch (layout.image) {
        case CoolImageSlot::None:
            break;
        case CoolImageSlot::IconNormal:
        case CoolImageSlot::IconHover: {
            const QIcon* icon =
                layout.image == CoolImageSlot::IconHover ? m_hIconHover : m_hIconNormal;
            if (icon == nullptr || size.isEmpty()) break;
            // Icons are drawn at the image size, stretched if the icon has no such size.
            QImage image = icon->pixmap(size).toImage();
            if (image.size() != size) {
                image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            }
            DrawImage(painter, image, layout.imageArea, embossed);
            break;
        }
        case CoolImageSlot::BitmapNormal:
        case CoolImageSlot::BitmapHover:
        case CoolImageSlot::BitmapDisabled: {
            const QPixmap* bitmap = layout.image == CoolImageSlot::BitmapNormal ? m_hBitmapNormal
                                    : layout.image == CoolImageSlot::BitmapHover
                                        ? m_hBitmapHover
                                        : m_hBitmapDisabled.get();
            // A missing disabled bitmap is not made on demand: nothing is drawn.
            if (bitmap == nullptr || bitmap->isNull() || size.isEmpty()) break;
            // Bitmaps are not scaled: the image size cuts them, and nothing is drawn past them.
            const QRect part = QRect(QPoint(0, 0), size).intersected(bitmap->rect());
            DrawImage(painter, bitmap->toImage().copy(part), layout.imageArea, embossed);
            break;
        }
    }
}

void CCoolButton::DrawImage(QPainter& painter, const QImage& image, const CoolRect& area,
                            bool embossed) {
    const QPoint at(area.left, area.top);
    if (!embossed) {
        painter.drawImage(at, image);
        return;
    }
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    painter.drawImage(at + QPoint(1, 1), ShapeIn(source, SystemColor(SysColor::ButtonHighlight)));
    painter.drawImage(at, ShapeIn(source, SystemColor(SysColor::ButtonShadow)));
}

template <typename PassToBase>
void CCoolButton::Run(const CoolButtonActions& actions, PassToBase passToBase) {
    for (CoolButtonAction action : actions) {
        switch (action) {
            case CoolButtonAction::Capture:
            case CoolButtonAction::Release:
                // Only m_bCaptured records these; see "How capture maps onto Qt" above.
                break;
            case CoolButtonAction::ReleaseIfCaptured:
                ReleaseIfCaptured();
                break;
            case CoolButtonAction::RepaintNow:
                repaint();
                break;
            case CoolButtonAction::PassToBase:
                passToBase();
                break;
        }
    }
}

void CCoolButton::mouseMoveEvent(QMouseEvent* event) {
    const QPointF pos = event->position();
    const QPoint point(static_cast<int>(std::floor(pos.x())),
                       static_cast<int>(std::floor(pos.y())));
    Run(OnMouseMove(m_nBorderStyle, KeyFlags(event->buttons(), event->modifiers()),
                    rect().contains(point)),
        [&] { QPushButton::mouseMoveEvent(event); });
}

void CCoolButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QPushButton::mousePressEvent(event);
        return;
    }
    Run(OnLButtonDown(), [&] { QPushButton::mousePressEvent(event); });
}

void CCoolButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QPushButton::mouseReleaseEvent(event);
        return;
    }
    Run(OnLButtonUp(), [&] { QPushButton::mouseReleaseEvent(event); });
}

void CCoolButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double-click is no press of this button: the owner-drawn button
    // of the other platform only notifies a double-click there, which the dialog ignores. Qt
    // would take it as a press, and its release as a second click: a double-click on Cancel
    // would cancel twice. The release that follows finds the button up and sends nothing.
    if (event->button() == Qt::LeftButton) {
        event->accept();
        return;
    }
    QPushButton::mouseDoubleClickEvent(event);
}

void CCoolButton::leaveEvent(QEvent* event) {
    // Leaving is the move outside that a capture exists to see.
    Run(OnMouseMove(m_nBorderStyle,
                    KeyFlags(QGuiApplication::mouseButtons(), QGuiApplication::keyboardModifiers()),
                    false),
        [&] { QPushButton::leaveEvent(event); });
}

void CCoolButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        Run(OnEnable(isEnabled()), [&] { QPushButton::changeEvent(event); });
        return;
    }
    QPushButton::changeEvent(event);
}

bool CCoolButton::event(QEvent* event) {
    // The window losing activation (another window, a modal box, a menu) ends any mouse
    // mode, as cancel mode does: the capture goes, the look stays.
    if (event->type() == QEvent::WindowDeactivate) {
        bool handled = false;
        Run(OnCancelMode(), [&] { handled = QPushButton::event(event); });
        return handled;
    }
    return QPushButton::event(event);
}

bool CCoolButton::hitButton(const QPoint& pos) const {
    // The whole face, as the hover test sees it.
    return rect().contains(pos);
}
