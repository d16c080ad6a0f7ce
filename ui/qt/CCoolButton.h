#pragma once
// CCoolButton: a push button that paints its own face and follows the mouse pointer (rest,
// hover, pressed, focused and disabled looks). Keyboard activation, focus, the pushed state
// and the clicked signal come from QPushButton, which sees every mouse event after the
// button's own state machine has. The state rules live in CoolButtonState and the face
// geometry in CoolButtonGeometry, both free of Qt; this class feeds Qt's events into the one
// and paints from the other.
//
// Defaults give the look the dialog uses: caption only, centred, flat style (no frame at rest,
// a raised one-pixel frame on hover, a sunken one while pressed), palette colours.

#include <QPushButton>

#include <cstdint>
#include <memory>

#include "ui/CoolButtonGeometry.h"
#include "ui/CoolButtonImages.h"
#include "ui/CoolButtonSettings.h"
#include "ui/CoolButtonState.h"

class QIcon;
class QImage;
class QPainter;
class QPixmap;

class CCoolButton : public QPushButton,
                    public CoolButtonSettings,
                    protected CoolButtonState,
                    protected CoolButtonImages<QIcon*, QPixmap*> {
    Q_OBJECT

public:
    explicit CCoolButton(QWidget* parent = nullptr);
    explicit CCoolButton(const QString& text, QWidget* parent = nullptr);
    ~CCoolButton() override;

    CCoolButton(const CCoolButton&) = delete;
    CCoolButton& operator=(const CCoolButton&) = delete;

    // Settings: SetContent, SetBorderStyle, ... from CoolButtonSettings (kColorDefault: the
    // palette's button text).
    // Empty text removes the tooltip. Qt's tooltip watches the widget's own events, so no
    // mouse messages need relaying to it.
    void SetTooltipText(const QString& text);

    // Images. Each call first releases the images held so far (FreeImages). cx and cy are the
    // size the image is drawn at; a cx of 0 shows no image. The pointer forms leave the
    // images with the caller, who keeps them alive while the button uses them; the
    // unique_ptr forms hand them to the button. Setting bitmaps also builds the disabled
    // bitmap. hover may be null: the normal image is then used while hovering.
    void SetIcon(QIcon* normal, QIcon* hover, std::int32_t cx, std::int32_t cy);
    void SetIcon(std::unique_ptr<QIcon> normal, std::unique_ptr<QIcon> hover, std::int32_t cx,
                 std::int32_t cy);
    void SetBitmap(QPixmap* normal, QPixmap* hover, std::int32_t cx, std::int32_t cy);
    void SetBitmap(std::unique_ptr<QPixmap> normal, std::unique_ptr<QPixmap> hover, std::int32_t cx,
                   std::int32_t cy);

    // Releases the images (the four given ones only when the button owns them, the disabled
    // bitmap always) and resets the image size.
    virtual void FreeImages();
    // The size the content needs; resizes the button to it, keeping its position, when n is
    // 0. For a content value other than the three known ones it returns (n, n).
    virtual QSize SizeToContent(std::int32_t n = 0);
    virtual void DrawFocusFrame(QPainter& painter, const CoolRect& item);
    virtual void DrawContent(QPainter& painter, const CoolRect& content, std::uint32_t itemState);
    // Copies the normal bitmap with its button-face pixels turned white, as the embossed
    // disabled drawing expects. False, with no disabled bitmap, when there is no normal
    // bitmap or it cannot be read.
    virtual bool CreateDisabledBitmap();

    const CoolButtonLook& Look() const { return *this; }
    const CoolButtonState& MouseState() const { return *this; }
    const QPixmap* DisabledBitmap() const { return m_hBitmapDisabled.get(); }

    // The palette colour that stands for a system colour, read from the palette at each use:
    // the active group for the frame, face and text colours, the disabled text for gray text.
    QColor SystemColor(SysColor color) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void RepaintFace() override { update(); }
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

    // The whole face, in the order LayoutFace states (PaintFace): fill, focus rectangle,
    // frames, content.
    virtual void DrawItem(QPainter& painter, const CoolRect& item, std::uint32_t itemState);

    // The normal and hover images are held in CoolButtonImages.
    std::unique_ptr<QPixmap> m_hBitmapDisabled;  // always the button's own

private:
    void Init();
    template <typename PassToBase>
    void Run(const CoolButtonActions& actions, PassToBase passToBase);
    void FillRect(QPainter& painter, const CoolRect& rect, const QColor& color);
    void DrawImage(QPainter& painter, const QImage& image, const CoolRect& area, bool embossed);
    QColor CaptionColor(const CoolColor& color) const;
};
