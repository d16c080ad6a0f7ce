// The hover button on screen (offscreen platform): its five looks pixel by pixel, the event
// paths into its state machine, its images, and the picture of the looks for a person to check.

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

#include "ui/qt/CCoolButton.h"

namespace {

// Palette roles in colours that cannot be mistaken for each other.
const QColor kFace(200, 200, 200);       // Button: ButtonFace
const QColor kLight(255, 255, 255);      // Light: ButtonHighlight
const QColor kMidlight(230, 230, 230);   // Midlight: Light
const QColor kDark(128, 128, 128);       // Dark: ButtonShadow
const QColor kShadow(40, 40, 40);        // Shadow: DarkShadow
const QColor kText(0, 0, 160);           // ButtonText: ButtonText
const QColor kGray(120, 120, 120);       // disabled Text: GrayText
const QColor kInvertedFace(55, 55, 55);  // the face under the inverting focus rectangle

QPalette TestPalette() {
    QPalette pal;
    pal.setColor(QPalette::Button, kFace);
    pal.setColor(QPalette::Light, kLight);
    pal.setColor(QPalette::Midlight, kMidlight);
    pal.setColor(QPalette::Dark, kDark);
    pal.setColor(QPalette::Shadow, kShadow);
    pal.setColor(QPalette::ButtonText, kText);
    pal.setColor(QPalette::Disabled, QPalette::Text, kGray);
    return pal;
}

QColor Px(const QImage& img, int x, int y) {
    return img.pixelColor(x, y);
}

// Pixels of one exact colour (fonts are rendered without antialiasing in these tests).
QSet<QPair<int, int>> PixelsOf(const QImage& img, const QColor& color) {
    QSet<QPair<int, int>> out;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelColor(x, y) == color) out.insert({x, y});
    return out;
}

QSet<QPair<int, int>> Shifted(const QSet<QPair<int, int>>& in, int dx, int dy) {
    QSet<QPair<int, int>> out;
    for (const auto& p : in) out.insert({p.first + dx, p.second + dy});
    return out;
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, modifiers);
    QApplication::sendEvent(w, &event);
}

void Move(QWidget* w, QPoint pos, Qt::MouseButtons buttons = Qt::NoButton,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    SendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, buttons, modifiers);
}

void Press(QWidget* w, QPoint pos) {
    SendMouse(w, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
}

void Release(QWidget* w, QPoint pos) {
    SendMouse(w, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

// QPixmap whose destruction is counted, to see who frees images.
class CountedPixmap : public QPixmap {
public:
    CountedPixmap(int w, int h, int* deaths) : QPixmap(w, h), m_deaths(deaths) { fill(Qt::black); }
    ~CountedPixmap() override { ++*m_deaths; }
    CountedPixmap(const CountedPixmap&) = delete;
    CountedPixmap& operator=(const CountedPixmap&) = delete;

private:
    int* m_deaths;
};

}  // namespace

class CoolButtonGuiTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QWidget> m_window;
    CCoolButton* m_btn = nullptr;
    QPoint m_inside{50, 15};
    QPoint m_outside{150, 15};
    int W() const { return m_btn->width(); }
    int H() const { return m_btn->height(); }
    QImage Shot() const { return m_btn->grab().toImage().convertToFormat(QImage::Format_RGB32); }

private slots:
    void init() {
        m_window = std::make_unique<QWidget>();
        m_window->resize(300, 80);
        m_btn = new CCoolButton(QStringLiteral("Upgrade"), m_window.get());
        m_btn->setGeometry(10, 10, 100, 30);
        m_btn->setPalette(TestPalette());
        QFont font(QStringLiteral("DejaVu Sans"), 11);
        font.setStyleStrategy(QFont::NoAntialias);
        m_btn->setFont(font);
        m_btn->setFocusPolicy(Qt::NoFocus);  // a focus rectangle only where a test asks
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        // The pointer may rest where an earlier test left it, over the button: move it off.
        QTest::mouseMove(m_window.get(), QPoint(290, 70));
        QVERIFY(!m_btn->MouseState().m_bHover);
    }
    void cleanup() { m_window.reset(); }

    void flatRestShowsPlainFaceAndCaption() {
        const QImage img = Shot();
        QCOMPARE(img.size(), QSize(100, 30));
        for (QPoint p : {QPoint(0, 0), QPoint(W() - 1, 0), QPoint(0, H() - 1),
                         QPoint(W() - 1, H() - 1), QPoint(1, 1), QPoint(W() - 2, H() - 2)})
            QCOMPARE(Px(img, p.x(), p.y()), kFace);
        const auto text = PixelsOf(img, kText);
        QVERIFY(text.size() > 30);
        // Centred: the caption's box sits in the middle within a pixel or two.
        int minX = W(), maxX = 0;
        for (const auto& p : text) {
            minX = std::min(minX, p.first);
            maxX = std::max(maxX, p.first);
        }
        QVERIFY(qAbs((minX - 2) - (W() - 2 - 1 - maxX)) <= 3);
    }

    void flatHoverShowsRaisedFrame() {
        Move(m_btn, m_inside);
        QVERIFY(m_btn->MouseState().m_bHover);
        const QImage img = Shot();
        QCOMPARE(Px(img, 0, 0), kLight);
        QCOMPARE(Px(img, W() - 2, 0), kLight);
        QCOMPARE(Px(img, 0, H() - 2), kLight);
        QCOMPARE(Px(img, W() - 1, 0), kShadow);  // top-right takes the second colour
        QCOMPARE(Px(img, 0, H() - 1), kShadow);  // and bottom-left
        QCOMPARE(Px(img, W() - 1, H() - 1), kShadow);
        QCOMPARE(Px(img, 1, 1), kFace);  // no inner ring in the flat style
        QCOMPARE(Px(img, W() - 2, H() - 2), kFace);
    }

    void flatPressedSunkenFrameAndCaptionMoved() {
        const auto rest = PixelsOf(Shot(), kText);
        Move(m_btn, m_inside);
        Press(m_btn, m_inside);
        QVERIFY(m_btn->isDown());
        const QImage img = Shot();
        QCOMPARE(Px(img, 0, 0), kShadow);
        QCOMPARE(Px(img, W() - 2, 0), kShadow);
        QCOMPARE(Px(img, W() - 1, 0), kLight);
        QCOMPARE(Px(img, 0, H() - 1), kLight);
        QCOMPARE(Px(img, W() - 1, H() - 1), kLight);
        QCOMPARE(Px(img, 1, 1), kFace);
        QCOMPARE(PixelsOf(img, kText), Shifted(rest, 1, 1));
        Release(m_btn, m_inside);
    }

    void focusRectangleIsInsetTwoAndInverts() {
        m_btn->setFocusPolicy(Qt::StrongFocus);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_btn->setFocus();
        QVERIFY(m_btn->hasFocus());
        const QImage img = Shot();
        // Every other pixel of the outline at inset 2 is inverted, nothing at inset 1 or 3.
        QCOMPARE(Px(img, 2, 2), kInvertedFace);
        QCOMPARE(Px(img, 3, 2), kFace);
        QCOMPARE(Px(img, 4, 2), kInvertedFace);
        QCOMPARE(Px(img, 2, 4), kInvertedFace);
        QCOMPARE(Px(img, W() - 3, 3), kInvertedFace);  // (97 + 3) even
        QCOMPARE(Px(img, 3, H() - 3), kInvertedFace);
        for (int x = 4; x < W() - 4; ++x) {
            QCOMPARE(Px(img, x, 1), kFace);
            QCOMPARE(Px(img, x, 3), kFace);
        }
        int dots = 0;
        for (int x = 2; x < W() - 2; ++x) dots += Px(img, x, 2) == kInvertedFace ? 1 : 0;
        QCOMPARE(dots, (W() - 4) / 2);
        // Other styles put it at inset 3.
        m_btn->SetBorderStyle(BORDER_SEMIFLAT);
        const QImage semi = Shot();
        QCOMPARE(Px(semi, 3, 3), kInvertedFace);
        QCOMPARE(Px(semi, 4, 2), kFace);
    }

    void disabledCaptionIsEmbossed() {
        const auto rest = PixelsOf(Shot(), kText);
        m_btn->SetTextColor(MakeColorRef(255, 0, 0));  // plays no part when disabled
        m_btn->setEnabled(false);
        const QImage img = Shot();
        QVERIFY(PixelsOf(img, kText).isEmpty());
        QVERIFY(PixelsOf(img, QColor(255, 0, 0)).isEmpty());
        // The caption's own place holds one gray, the palette's darkened until it stands 3:1
        // against the face (the palette's 120 gives only 2.6:1 on 200).
        const auto [x0, y0] = *rest.begin();
        const QColor gray = Px(img, x0, y0);
        QCOMPARE(PixelsOf(img, gray), rest);
        QVERIFY(gray.red() == gray.green() && gray.green() == gray.blue());
        QVERIFY(gray.red() < kGray.red());
        auto luminance = [](const QColor& c) {
            auto lin = [](double v) {
                v /= 255.0;
                return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * lin(c.red()) + 0.7152 * lin(c.green()) + 0.0722 * lin(c.blue());
        };
        QVERIFY((luminance(kFace) + 0.05) / (luminance(gray) + 0.05) >= 3.0);
        const auto light = PixelsOf(img, kLight);
        QVERIFY(!light.isEmpty());
        // The highlight copy sits one pixel right and down: everywhere it is not covered.
        for (const auto& p : Shifted(rest, 1, 1)) {
            const QColor c = Px(img, p.first, p.second);
            QVERIFY(c == kLight || c == gray);
        }
        for (const auto& p : light) QVERIFY(rest.contains({p.first - 1, p.second - 1}));
    }

    void otherBorderStyles() {
        m_btn->SetBorderStyle(BORDER_3D);
        QCOMPARE(Px(Shot(), 1, 1), kMidlight);  // raised inner ring at rest
        QCOMPARE(Px(Shot(), W() - 2, H() - 2), kDark);
        Move(m_btn, m_inside);  // not tracked in 3-D without a button
        QVERIFY(!m_btn->MouseState().m_bHover);

        m_btn->SetBorderStyle(BORDER_SEMIFLAT);
        QCOMPARE(Px(Shot(), 0, 0), kLight);
        QCOMPARE(Px(Shot(), 1, 1), kFace);
        Move(m_btn, m_inside);
        QCOMPARE(Px(Shot(), 1, 1), kMidlight);

        m_btn->SetBorderStyle(BORDER_NONE);
        const auto rest = PixelsOf(Shot(), kText);
        Press(m_btn, m_inside);
        const QImage pressed = Shot();
        QCOMPARE(Px(pressed, 0, 0), kFace);
        QCOMPARE(PixelsOf(pressed, kText), rest);  // not moved
        Release(m_btn, m_inside);
    }

    void clickEndsInTheRestLookAndReleaseOutsideSendsNoClick() {
        QSignalSpy clicked(m_btn, &QAbstractButton::clicked);
        QTest::mouseMove(m_btn, m_inside);
        QTest::mouseClick(m_btn, Qt::LeftButton, Qt::NoModifier, m_inside);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(!m_btn->MouseState().m_bHover);
        QVERIFY(!m_btn->MouseState().m_bCaptured);
        QCOMPARE(Px(Shot(), 0, 0), kFace);

        // Drag out: hover frame stays, pressed look ends; back in: pressed again.
        Press(m_btn, m_inside);
        Move(m_btn, m_outside, Qt::LeftButton);
        QVERIFY(!m_btn->isDown());
        QCOMPARE(Px(Shot(), 0, 0), kLight);
        Move(m_btn, m_inside, Qt::LeftButton);
        QCOMPARE(Px(Shot(), 0, 0), kShadow);
        Move(m_btn, m_outside, Qt::LeftButton);
        Release(m_btn, m_outside);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(!m_btn->MouseState().m_bHover);
        QVERIFY(!m_btn->MouseState().m_bCaptured);
        QCOMPARE(Px(Shot(), 0, 0), kFace);
    }

    void doubleClickIsOneClick() {
        QSignalSpy clicked(m_btn, &QAbstractButton::clicked);
        QTest::mouseMove(m_btn, m_inside);
        // What Qt delivers for a double-click: press, release, double-click, release.
        QTest::mouseClick(m_btn, Qt::LeftButton, Qt::NoModifier, m_inside);
        QTest::mouseDClick(m_btn, Qt::LeftButton, Qt::NoModifier, m_inside);
        QTest::mouseRelease(m_btn, Qt::LeftButton, Qt::NoModifier, m_inside);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(!m_btn->isDown());
        QVERIFY(!m_btn->MouseState().m_bPressed);
        QVERIFY(!m_btn->MouseState().m_bCaptured);
        // The next single click counts again.
        QTest::mouseClick(m_btn, Qt::LeftButton, Qt::NoModifier, m_inside);
        QCOMPARE(clicked.count(), 2);
    }

    void leavingWithShiftKeepsTheCaptureAndLeaveEndsHover() {
        Move(m_btn, m_inside);
        Move(m_btn, m_outside, Qt::NoButton, Qt::ShiftModifier);
        QCOMPARE(Px(Shot(), 0, 0), kFace);
        QVERIFY(m_btn->MouseState().m_bCaptured);
        Move(m_btn, m_outside);
        QVERIFY(!m_btn->MouseState().m_bCaptured);

        // With no grab, Qt's Leave is the move outside that ends the hover look.
        Move(m_btn, m_inside);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(m_btn, &leave);
        QVERIFY(!m_btn->MouseState().m_bHover);
        QVERIFY(!m_btn->MouseState().m_bCaptured);
        QCOMPARE(Px(Shot(), 0, 0), kFace);
    }

    void pointerMovesThroughQtReachTheStateMachine() {
        // Through the window system: the move over the button, then the Leave when the
        // pointer goes to the window around it.
        QTest::mouseMove(m_btn, m_inside);
        QVERIFY(m_btn->MouseState().m_bHover);
        QTest::mouseMove(m_window.get(), QPoint(290, 70));
        QVERIFY(!m_btn->MouseState().m_bHover);
        QVERIFY(!m_btn->MouseState().m_bCaptured);

        // A button that appears under a resting pointer shows hover only once the pointer
        // moves, and loses it again when the pointer leaves.
        QTest::mouseMove(m_btn, m_inside);
        m_window->hide();
        QWidget second;
        second.setGeometry(m_window->geometry());
        auto* btn = new CCoolButton(QStringLiteral("Browse"), &second);
        btn->setGeometry(m_btn->geometry());
        second.show();
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        QVERIFY(!btn->MouseState().m_bHover);
        QTest::mouseMove(btn, m_inside + QPoint(1, 0));
        QVERIFY(btn->MouseState().m_bHover);
        QTest::mouseMove(&second, QPoint(290, 70));
        QVERIFY(!btn->MouseState().m_bHover);
    }

    void pressBegunOutsideShowsThePressedLook() {
        Move(m_btn, m_inside, Qt::LeftButton);
        QVERIFY(!m_btn->isDown());
        QCOMPARE(Px(Shot(), 0, 0), kShadow);
    }

    void deactivationAndDisablingEndTheMouseMode() {
        Move(m_btn, m_inside);
        QEvent deactivate(QEvent::WindowDeactivate);
        QApplication::sendEvent(m_btn, &deactivate);
        QVERIFY(!m_btn->MouseState().m_bCaptured);
        QCOMPARE(Px(Shot(), 0, 0), kLight);  // hover look stays

        Move(m_btn, m_inside);
        Press(m_btn, m_inside);
        m_btn->setEnabled(false);
        QVERIFY(!m_btn->MouseState().m_bHover);
        QVERIFY(!m_btn->MouseState().m_bPressed);
        QVERIFY(!m_btn->MouseState().m_bCaptured);
        m_btn->setEnabled(true);
        QCOMPARE(Px(Shot(), 0, 0), kFace);
    }

    void neverTheDefaultButton() {
        QDialog dialog;
        CCoolButton btn(QStringLiteral("OK"), &dialog);
        QVERIFY(!btn.autoDefault());
        QVERIFY(!btn.isDefault());
        QCOMPARE(btn.metaObject()->className(), "CCoolButton");
        QCOMPARE(btn.metaObject()->superClass()->className(), "QPushButton");
        // The defaults the tool's buttons keep.
        QCOMPARE(btn.Look().m_nContent, CONTENT_IMAGE_TEXT);
        QCOMPARE(btn.Look().m_nBorderStyle, BORDER_FLAT);
        QCOMPARE(btn.Look().m_ptPressedOffset, (CoolPoint{2, 2}));
        QCOMPARE(btn.Look().m_crText, kColorDefault);
        QCOMPARE(btn.Look().m_cxImage, 0);
    }

    void createDisabledBitmap() {
        QVERIFY(!m_btn->CreateDisabledBitmap());
        QVERIFY(m_btn->DisabledBitmap() == nullptr);

        QImage src(3, 2, QImage::Format_RGB32);
        src.fill(kFace);
        src.setPixelColor(1, 0, Qt::black);
        src.setPixelColor(2, 1, QColor(200, 200, 201));
        QPixmap normal = QPixmap::fromImage(src);
        m_btn->SetBitmap(&normal, nullptr, 3, 2);
        QVERIFY(m_btn->DisabledBitmap() != nullptr);
        const QImage made = m_btn->DisabledBitmap()->toImage();
        QCOMPARE(made.size(), src.size());
        QCOMPARE(made.pixelColor(0, 0), QColor(Qt::white));
        QCOMPARE(made.pixelColor(1, 0), QColor(Qt::black));
        QCOMPARE(made.pixelColor(2, 1), QColor(200, 200, 201));
        QCOMPARE(made.pixelColor(0, 1), QColor(Qt::white));

        // With a white face the copy is the source.
        QPalette white = TestPalette();
        white.setColor(QPalette::Button, Qt::white);
        m_btn->setPalette(white);
        QVERIFY(m_btn->CreateDisabledBitmap());
        QCOMPARE(m_btn->DisabledBitmap()->toImage().convertToFormat(QImage::Format_RGB32), src);

        // Losing the bitmap loses the disabled copy too.
        m_btn->FreeImages();
        QVERIFY(!m_btn->CreateDisabledBitmap());
        QVERIFY(m_btn->DisabledBitmap() == nullptr);
    }

    void imagesFollowHoverAndEmbossWhenDisabled() {
        QPixmap normal(16, 16);
        normal.fill(Qt::black);
        QPixmap hover(16, 16);
        hover.fill(Qt::red);
        m_btn->SetBitmap(&normal, &hover, 16, 16);
        // Image at the left edge + 5 of the content area, centred vertically: (7..23, 7..23).
        QCOMPARE(Px(Shot(), 10, 10), QColor(Qt::black));
        Move(m_btn, m_inside);
        QCOMPARE(Px(Shot(), 10, 10), QColor(Qt::red));
        m_btn->setEnabled(false);
        const QImage img = Shot();
        QCOMPARE(Px(img, 7, 7), kDark);  // shape in the shadow colour
        QCOMPARE(Px(img, 22, 22), kDark);
        QCOMPARE(Px(img, 23, 23), kLight);  // highlight copy one pixel right and down
        QCOMPARE(Px(img, 6, 6), kFace);

        // Icons: the same emboss from the icon's opaque pixels.
        QPixmap iconPixmap(8, 8);
        iconPixmap.fill(Qt::transparent);
        {
            QPainter p(&iconPixmap);
            p.fillRect(0, 0, 4, 8, Qt::black);
        }
        QIcon icon(iconPixmap);
        m_btn->SetContent(CONTENT_IMAGE);
        m_btn->SetIcon(&icon, nullptr, 8, 8);
        const QImage iconShot = Shot();  // centred: (46..54, 11..19)
        QCOMPARE(Px(iconShot, 47, 12), kDark);
        QCOMPARE(Px(iconShot, 50, 12), kLight);
        QCOMPARE(Px(iconShot, 51, 12), kFace);
        QVERIFY(PixelsOf(iconShot, kGray).isEmpty());  // no caption in image-only content
    }

    void freeImagesDeletesOnlyOwnedImages() {
        int deaths = 0;
        CountedPixmap normal(8, 8, &deaths);
        CountedPixmap hover(8, 8, &deaths);
        m_btn->SetBitmap(&normal, &hover, 8, 8);
        m_btn->FreeImages();
        QCOMPARE(deaths, 0);
        QCOMPARE(m_btn->Look().m_cxImage, 0);

        m_btn->SetBitmap(std::make_unique<CountedPixmap>(8, 8, &deaths),
                         std::make_unique<CountedPixmap>(8, 8, &deaths), 8, 8);
        QVERIFY(m_btn->DisabledBitmap() != nullptr);
        m_btn->FreeImages();
        QCOMPARE(deaths, 2);
        QVERIFY(m_btn->DisabledBitmap() == nullptr);

        // Owned images go with the button.
        auto* btn = new CCoolButton(m_window.get());
        btn->SetBitmap(std::make_unique<CountedPixmap>(8, 8, &deaths), nullptr, 8, 8);
        delete btn;
        QCOMPARE(deaths, 3);
    }

    void sizeToContent() {
        const QFontMetrics fm(m_btn->font());
        m_btn->SetContent(CONTENT_TEXT);
        const QSize want(fm.horizontalAdvance(QStringLiteral("Upgrade")) + 10, fm.height() + 10);
        QCOMPARE(m_btn->SizeToContent(5), want);
        QCOMPARE(m_btn->size(), QSize(100, 30));  // n not 0: only computed
        QCOMPARE(m_btn->SizeToContent(), want);
        QCOMPARE(m_btn->size(), want);
        QCOMPARE(m_btn->pos(), QPoint(10, 10));
        m_btn->SetContent(9);
        QCOMPARE(m_btn->SizeToContent(40), QSize(40, 40));
    }

    // Not a check: the five looks of a flat button side by side, for a person to look at.
    void writeLooksPicture() {
        m_btn->setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
        m_btn->setPalette(QPalette());
        QList<QImage> looks;
        looks << Shot();  // rest
        Move(m_btn, m_inside);
        looks << Shot();  // hover
        Press(m_btn, m_inside);
        looks << Shot();  // pressed
        Release(m_btn, m_inside);
        Move(m_btn, m_outside);
        m_btn->setFocusPolicy(Qt::StrongFocus);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_btn->setFocus();
        looks << Shot();  // focused
        m_btn->clearFocus();
        m_btn->setEnabled(false);
        looks << Shot();  // disabled

        const int gap = 8, w = W(), h = H(), n = static_cast<int>(looks.size());
        QImage sheet(gap + n * (w + gap), 2 * gap + h, QImage::Format_RGB32);
        sheet.fill(QPalette().color(QPalette::Window));
        {
            QPainter p(&sheet);
            for (int i = 0; i < n; ++i) p.drawImage(gap + i * (w + gap), gap, looks[i]);
        }
        QImage out(sheet.width() * 4, sheet.height() * 5, QImage::Format_RGB32);
        out.fill(Qt::white);
        {
            QPainter p(&out);
            p.drawImage(0, 0, sheet);
            p.drawImage(0, sheet.height(), sheet.scaled(sheet.size() * 4));
        }
        const QString path = QStringLiteral(KESTREL_BUILD_DIR "/button-looks.png");
        QVERIFY(out.save(path));
        qInfo("five looks (rest, hover, pressed, focused, disabled) written to %s",
              qPrintable(path));
    }
};

QTEST_MAIN(CoolButtonGuiTest)
#include "CoolButtonGuiTest.moc"
