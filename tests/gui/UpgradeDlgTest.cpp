// The main dialog on Qt's offscreen platform: its layout and texts against dialog template 102,
// the services as the core sees them, the handlers, and the boxes it opens (answered by the test
// through the dialog's modal runner).
#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/qt/CAboutDlg.h"
#include "app/qt/CUpgradeDlg.h"
#include "app/ControlIds.h"
#include "app/qt/NameFilters.h"
#include "image/FirmwareImage.h"
#include "tests/gui/ModalScript.h"
#include "tests/support/ImageBuilder.h"

namespace {

// The program's own file name: the caption of ShowMessage and of the Channel message.
const QString kProgramName = QStringLiteral("kestrel_gui_dialog_tests");

struct Row {
    int id;  // -1 for the controls without an ID
    const char* className;
    const char* text;
    QRect dlu;
};

// Dialog template 102 as the design gives it, in tab order.
const Row kRows[] = {
    {1016, "CCoolButton", "Cancel", {241, 155, 77, 18}},
    {-1, "QGroupBox", "", {23, 19, 351, 233}},
    {1002, "CCoolButton", "Upgrade", {92, 155, 77, 18}},
    {1011, "QLineEdit", "", {116, 53, 162, 13}},
    {-1, "QLabel", "Program File", {59, 55, 52, 10}},
    {1017, "CCoolButton", "Browse", {286, 50, 48, 18}},
    {1018, "QProgressBar", "", {67, 131, 273, 10}},
    {1012, "QLineEdit", "", {245, 110, 92, 13}},
    {1019, "QRadioButton", "BIN", {140, 78, 47, 11}},
    {1020, "QRadioButton", "HEX", {217, 78, 47, 11}},
    {1021, "CCoolButton", "Generate Bin File", {92, 197, 226, 18}},
    {-1, "QGroupBox", "", {51, 96, 306, 90}},
    {-1, "QLabel", "Channel", {69, 110, 31, 10}},
    {1013, "QLineEdit", "", {106, 108, 45, 13}},
    {1022, "CCoolButton", "Generate Body File", {92, 222, 226, 18}},
};

// Windows' conversion, measured here independently of the dialog's own code.
QRect ToPixels(const QRect& dlu, int cx, int cy) {
    auto round = [](int a, int b, int c) { return (a * b + c / 2) / c; };
    return {round(dlu.x(), cx, 4), round(dlu.y(), cy, 8), round(dlu.width(), cx, 4),
            round(dlu.height(), cy, 8)};
}

QString ControlText(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return {};
}

}  // namespace

class UpgradeDlgTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CUpgradeDlg> m_dlg;
    std::unique_ptr<ModalScript> m_script;
    std::unique_ptr<TempDir> m_dir;

    template <typename T = QWidget>
    T* Ctl(int id) {
        auto* w = qobject_cast<T*>(m_dlg->Control(id));
        if (!w) qFatal("control %d missing", id);
        return w;
    }
    bool Enabled(int id) { return Ctl(id)->isEnabled(); }
    void ClickButton(int id) { QTest::mouseClick(Ctl(id), Qt::LeftButton); }

    std::string WriteImage(const char* name, const ImageLayout& layout = {}) {
        const std::string path = m_dir->File(name);
        WriteBytes(path, BuildRawImage(layout));
        return path;
    }

    void LoadThroughBrowse(const std::string& path) {
        m_script->ChooseFile(QString::fromStdString(path));
        ClickButton(IDC_BROWSE);
    }

private slots:
    void init() {
        std::memset(&g_image, 0, sizeof g_image);
        m_dir = std::make_unique<TempDir>();
        m_dlg = std::make_unique<CUpgradeDlg>();
        m_script = std::make_unique<ModalScript>(*m_dlg);
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }

    void cleanup() {
        QVERIFY2(!m_script->AnyUnexpected(), qPrintable(m_script->Texts().join(QLatin1Char('|'))));
        QVERIFY(m_script->AllAnswered());
        m_script.reset();
        m_dlg.reset();
        m_dir.reset();
    }

    void layoutFollowsTheTemplate() {
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("VANTO Upgrade V2.3"));
        const QFont font = m_dlg->font();
        QCOMPARE(font.pointSize(), 9);
        QVERIFY(font.families().contains(QStringLiteral("宋体")));
        const QFontMetrics metrics(font);
        const int letters = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        const int cx = (letters + 26) / 52;
        const int cy = metrics.height();

        // Client area 396 x 282 units, fixed.
        const QSize size = ToPixels({0, 0, 396, 282}, cx, cy).size();
        QCOMPARE(m_dlg->size(), size);
        QCOMPARE(m_dlg->minimumSize(), size);
        QCOMPARE(m_dlg->maximumSize(), size);

        // Every control, in creation (template) order.
        QList<QWidget*> controls;
        for (QObject* child : m_dlg->children())
            if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) controls << w;
        // Stacking changes the child order; each control carries its template row.
        std::sort(controls.begin(), controls.end(), [](QWidget* a, QWidget* b) {
            return a->property("templateIndex").toInt() < b->property("templateIndex").toInt();
        });
        QCOMPARE(controls.size(), qsizetype{std::size(kRows)});
        for (qsizetype i = 0; i < controls.size(); ++i) {
            const Row& row = kRows[i];
            QWidget* w = controls[i];
            const QByteArray where =
                QByteArray::number(i) + " " + row.text + " " + w->metaObject()->className();
            QVERIFY2(w->inherits(row.className), where.constData());
            // Edit boxes show the values instead (checked in startUpState).
            if (!w->inherits("QLineEdit")) QCOMPARE(ControlText(w), QString::fromUtf8(row.text));
            QCOMPARE(w->geometry(), ToPixels(row.dlu, cx, cy));
            if (row.id >= 0) {
                QCOMPARE(w->objectName(), QString::number(row.id));
                QCOMPARE(m_dlg->Control(row.id), w);
            }
            if (std::strlen(row.text) > 0)
                QCOMPARE(w->accessibleName(), QString::fromUtf8(row.text));
        }

        // Edit styles.
        QVERIFY(Ctl<QLineEdit>(IDC_PROGRAM_FILE)->hasFrame());
        QVERIFY(!Ctl<QLineEdit>(IDC_PROGRAM_FILE)->isReadOnly());
        QVERIFY(!Ctl<QLineEdit>(IDC_SPACE)->hasFrame());
        QVERIFY(Ctl<QLineEdit>(IDC_SPACE)->isReadOnly());
        QVERIFY(Ctl<QLineEdit>(IDC_SPACE)->alignment() & Qt::AlignRight);
        QVERIFY(Ctl<QLineEdit>(IDC_CHANNEL)->hasFrame());
        QVERIFY(Ctl<QLineEdit>(IDC_CHANNEL)->alignment() & Qt::AlignHCenter);
        QVERIFY(!Ctl<QProgressBar>(IDC_PROGRESS)->isTextVisible());

        // Labels name their edit boxes.
        auto* programLabel = qobject_cast<QLabel*>(controls[4]);
        auto* channelLabel = qobject_cast<QLabel*>(controls[12]);
        QCOMPARE(programLabel->buddy(), Ctl(IDC_PROGRAM_FILE));
        QCOMPARE(channelLabel->buddy(), Ctl(IDC_CHANNEL));
        QCOMPARE(Ctl(IDC_PROGRAM_FILE)->accessibleName(), QStringLiteral("Program File"));
        QCOMPARE(Ctl(IDC_CHANNEL)->accessibleName(), QStringLiteral("Channel"));

        // Tab stops in template order; radios, statics, group boxes and the bar are not.
        QList<int> tabStops;
        for (QWidget* w : controls)
            if (w->focusPolicy() & Qt::TabFocus) tabStops << w->objectName().toInt();
        QCOMPARE(tabStops, (QList<int>{1016, 1002, 1011, 1017, 1012, 1021, 1013, 1022}));
        QList<int> chain;
        for (QWidget* w = m_dlg->nextInFocusChain(); w != m_dlg.get(); w = w->nextInFocusChain())
            if (w->focusPolicy() & Qt::TabFocus) chain << w->objectName().toInt();
        QCOMPARE(chain, tabStops);

        // The push buttons keep Enter for the dialog.
        for (int id : {1016, 1002, 1017, 1021, 1022}) {
            QVERIFY(!Ctl<QPushButton>(id)->autoDefault());
            QVERIFY(!Ctl<QPushButton>(id)->isDefault());
        }
    }

    void startUpState() {
        for (int id : {IDC_UPGRADE, IDC_CANCEL_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY})
            QVERIFY2(!Enabled(id), qPrintable(QString::number(id)));
        for (int id : {IDC_BROWSE, IDC_BIN, IDC_HEX, IDC_PROGRAM_FILE, IDC_SPACE, IDC_CHANNEL})
            QVERIFY2(Enabled(id), qPrintable(QString::number(id)));
        QVERIFY(Ctl<QRadioButton>(IDC_BIN)->isChecked());
        QCOMPARE(Ctl<QLineEdit>(IDC_CHANNEL)->text(), QStringLiteral("0"));
        QCOMPARE(m_dlg->m_nFileType, 0);
        QCOMPARE(m_dlg->m_hDevice, kInvalidDrive);
        QCOMPARE(m_dlg->ProgressMinimum(), 0);
        QCOMPARE(m_dlg->ProgressMaximum(), 0);
        // The empty range looks empty: no busy animation (which Qt shows for 0..0).
        auto* bar = Ctl<QProgressBar>(IDC_PROGRESS);
        QVERIFY(bar->maximum() > bar->minimum());
        QCOMPARE(bar->value(), bar->minimum());
        QVERIFY(!m_dlg->BlockTimerActive());
        // The first tab stop (Cancel) is disabled: the focus is on the Program File box.
        QCOMPARE(QApplication::focusWidget(), Ctl(IDC_PROGRAM_FILE));
    }

    void progressOperations() {
        auto* bar = Ctl<QProgressBar>(IDC_PROGRESS);
        m_dlg->SetProgressRange(16, 100);
        m_dlg->SetProgressStep(1);
        m_dlg->SetProgressPos(0);  // clamped into the range
        QCOMPARE(m_dlg->ProgressPos(), 16);
        QCOMPARE(bar->value(), 16);
        for (int i = 0; i < 84; ++i) m_dlg->StepProgress();
        QCOMPARE(bar->value(), 100);
        QCOMPARE(bar->value(), bar->maximum());
        m_dlg->SetProgressPos(500);
        QCOMPARE(m_dlg->ProgressPos(), 100);
        m_dlg->SetProgressRange(512, 512);
        QCOMPARE(m_dlg->ProgressMinimum(), 512);
        QVERIFY(bar->maximum() > bar->minimum());
        QCOMPARE(bar->value(), bar->minimum());
    }

    void blockTimer() {
        m_dlg->StartBlockTimer(100);
        QVERIFY(m_dlg->BlockTimerActive());
        QCOMPARE(m_dlg->BlockTimerInterval(), 100);
        QCOMPARE(m_dlg->BlockTimerType(), Qt::PreciseTimer);
        m_dlg->StartBlockTimer(15);  // re-arming replaces the interval
        QCOMPARE(m_dlg->BlockTimerInterval(), 15);
        m_dlg->StopBlockTimer();
        QVERIFY(!m_dlg->BlockTimerActive());
    }

    void messageAndPromptBoxes() {
        m_script->Press(QMessageBox::Ok);
        m_dlg->ShowMessage("Finish OK!");
        m_script->Press(QMessageBox::Ok);
        QVERIFY(m_dlg->AskOkCancel("Code Empty, Continue?"));
        m_script->Press(QMessageBox::Cancel);
        QVERIFY(!m_dlg->AskOkCancel("Current Version is V1, Continue?"));

        QCOMPARE(m_script->records.size(), std::size_t{3});
        const ModalRecord& message = m_script->records[0];
        QCOMPARE(message.className, QStringLiteral("ClassicMessageBox"));
        QCOMPARE(message.text, QStringLiteral("Finish OK!"));
        QCOMPARE(message.title, kProgramName);
        QCOMPARE(message.icon, QMessageBox::NoIcon);
        QCOMPARE(message.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        const ModalRecord& prompt = m_script->records[1];
        QCOMPARE(prompt.text, QStringLiteral("Code Empty, Continue?"));
        QCOMPARE(prompt.title, QString());
        QCOMPARE(prompt.icon, QMessageBox::NoIcon);
        QCOMPARE(prompt.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    }

    void messageBoxIsAnsweredWhenRunForReal() {
        // Without a scripted shortcut: the real box, closed by a key press as a user would.
        m_script->Handle([](QDialog& box) {
            QTimer::singleShot(0, &box, [&box] { QTest::keyClick(&box, Qt::Key_Escape); });
            return box.exec();
        });
        QVERIFY(!m_dlg->AskOkCancel("Code Empty, Continue?"));
        m_script->Handle([](QDialog& box) {
            QTimer::singleShot(0, &box, [&box] { QTest::keyClick(&box, Qt::Key_Return); });
            return box.exec();
        });
        QVERIFY(m_dlg->AskOkCancel("Code Empty, Continue?"));
    }

    void typedPathIsKeptWhenTheFileDialogIsCancelled() {
        QTest::keyClicks(Ctl(IDC_PROGRAM_FILE), QStringLiteral("/somewhere/typed.bin"));
        m_script->CancelFile();
        ClickButton(IDC_BROWSE);
        QCOMPARE(m_script->records.size(), std::size_t{1});
        QCOMPARE(m_dlg->m_strProgramFile, std::string("/somewhere/typed.bin"));
        QCOMPARE(Ctl<QLineEdit>(IDC_PROGRAM_FILE)->text(), QStringLiteral("/somewhere/typed.bin"));
        QVERIFY(!Enabled(IDC_UPGRADE));  // unchanged until the next reset
    }

    void fileTypeChoosesTheDialog() {
        QTest::mouseClick(Ctl(IDC_HEX), Qt::LeftButton);
        m_script->CancelFile();
        ClickButton(IDC_BROWSE);
        QCOMPARE(m_dlg->m_nFileType, 1);
        QTest::mouseClick(Ctl(IDC_BIN), Qt::LeftButton);
        m_script->CancelFile();
        ClickButton(IDC_BROWSE);
        QCOMPARE(m_dlg->m_nFileType, 0);

        QCOMPARE(m_script->records.size(), std::size_t{2});
        const ModalRecord& hex = m_script->records[0];
        QCOMPARE(hex.className, QStringLiteral("QFileDialog"));
        QCOMPARE(hex.acceptMode, QFileDialog::AcceptOpen);
        QCOMPARE(hex.nameFilters, QStringList{QStringLiteral("M3 HEX files (*.hex)")});
        QCOMPARE(hex.defaultSuffix, QStringLiteral("hex"));
        const ModalRecord& bin = m_script->records[1];
        QCOMPARE(bin.nameFilters, QStringList{QStringLiteral("DSP program bin files (*.bin)")});
        QCOMPARE(bin.defaultSuffix, QString());
    }

    void badChannelIsReportedAndTheFileDialogStillOpens() {
        QTest::mouseClick(Ctl(IDC_HEX), Qt::LeftButton);
        auto* channel = Ctl<QLineEdit>(IDC_CHANNEL);
        for (const char* bad : {"-1", "abc"}) {
            channel->setText(QString::fromLatin1(bad));
            m_script->Press(QMessageBox::Ok);
            m_script->CancelFile();
            ClickButton(IDC_BROWSE);
        }
        QCOMPARE(m_script->records.size(), std::size_t{4});
        const ModalRecord& message = m_script->records[2];
        QCOMPARE(message.text, QStringLiteral("“请填入一个正整数。”"));
        QCOMPARE(message.icon, QMessageBox::Warning);
        QCOMPARE(message.title, kProgramName);
        QCOMPARE(message.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(m_script->records[3].className, QStringLiteral("QFileDialog"));
        // The file type was taken before the Channel failed: the HEX dialog opened.
        QCOMPARE(m_script->records[3].nameFilters.first(), QStringLiteral("M3 HEX files (*.hex)"));
        QCOMPARE(m_dlg->m_nChannel, 0u);
        QCOMPARE(channel->selectedText(), QStringLiteral("abc"));

        // The Channel box gets the focus with its whole text selected.
        QApplication::setActiveWindow(m_dlg.get());
        QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
        Ctl(IDC_PROGRAM_FILE)->setFocus();
        channel->setText(QStringLiteral("7x"));
        m_script->Press(QMessageBox::Ok);
        QVERIFY(!m_dlg->ReadValues());
        QCOMPARE(QApplication::focusWidget(), channel);
        QCOMPARE(channel->selectedText(), QStringLiteral("7x"));

        // A good text is taken.
        channel->setText(QStringLiteral(" +7 "));
        QVERIFY(m_dlg->ReadValues());
        QCOMPARE(m_dlg->m_nChannel, 7u);
    }

    void enablingRuleAfterGoodAndRejectedLoads() {
        const std::string good = WriteImage("good.bin");
        LoadThroughBrowse(good);
        QCOMPARE(m_script->records.size(), std::size_t{1});
        for (int id : {IDC_UPGRADE, IDC_CANCEL_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY, IDC_BROWSE})
            QVERIFY2(Enabled(id), qPrintable(QString::number(id)));
        QCOMPARE(Ctl<QLineEdit>(IDC_PROGRAM_FILE)->text(), QString::fromStdString(good));
        QCOMPARE(Ctl<QLineEdit>(IDC_SPACE)->text(), QStringLiteral("Space (16-100K)"));
        QCOMPARE(m_dlg->ProgressMinimum(), 16);
        QCOMPARE(m_dlg->ProgressMaximum(), 100);
        QCOMPARE(m_dlg->ProgressPos(), 16);

        // A file without the marker is refused; what was loaded stays, and so do the buttons.
        ImageLayout noMarker;
        noMarker.startBlock = 0xFFFF;
        const std::string bad = WriteImage("nomarker.bin", noMarker);
        m_script->ChooseFile(QString::fromStdString(bad));
        m_script->Press(QMessageBox::Ok);
        ClickButton(IDC_BROWSE);
        QCOMPARE(m_script->records.back().text, QStringLiteral("File read error!"));
        for (int id : {IDC_UPGRADE, IDC_CANCEL_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY, IDC_BROWSE})
            QVERIFY2(Enabled(id), qPrintable(QString::number(id)));
        QCOMPARE(m_dlg->m_strProgramFile, good);
        QCOMPARE(Ctl<QLineEdit>(IDC_SPACE)->text(), QStringLiteral("Space (16-100K)"));
    }

    void generateButtonsWriteTheDerivedFiles() {
        LoadThroughBrowse(WriteImage("image.bin"));
        const std::string program = m_dir->File("program.bin");
        const std::string body = m_dir->File("body.bin");
        m_script->ChooseFile(QString::fromStdString(program));
        ClickButton(IDC_GEN_BIN);
        m_script->ChooseFile(QString::fromStdString(body));
        ClickButton(IDC_GEN_BODY);

        const ModalRecord& save = m_script->records[1];
        QCOMPARE(save.acceptMode, QFileDialog::AcceptSave);
        QCOMPARE(save.nameFilters, QStringList{QStringLiteral("bin files (*.bin)")});
        QCOMPARE(save.defaultSuffix, QStringLiteral("bin"));
        QVERIFY(save.confirmsOverwrite);
        QCOMPARE(ReadBytes(program).size(), std::size_t{100 * 1024});
        QCOMPARE(ReadBytes(m_dir->File("program_BURN.bin")).size(), std::size_t{100 * 1024});
        QCOMPARE(ReadBytes(body).size(), std::size_t{84 * 1024});
    }

    void saveDialogAppendsTheExtensionAndAsksBeforeReplacing() {
        const std::string existing = m_dir->File("out.bin");
        WriteBytes(existing, {1, 2, 3});
        QString question;
        m_script->Handle([&](QDialog& box) {
            auto* files = qobject_cast<QFileDialog*>(&box);
            QTimer::singleShot(0, files, [&, files] {
                files->selectFile(QString::fromStdString(m_dir->File("out")));
                // The overwrite question is a box of the file dialog's own.
                QTimer::singleShot(0, files, [&] {
                    auto* ask = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                    if (!ask) return;
                    question = ask->text();
                    ask->button(QMessageBox::Yes)->click();
                });
                static_cast<QDialog*>(files)->accept();
            });
            return files->exec();
        });
        const auto chosen =
            m_dlg->ChooseFile(FileDialogMode::Save, "bin", "bin files (*.bin)|*.bin|");
        QVERIFY(chosen.has_value());
        QCOMPARE(*chosen, existing);
        QVERIFY2(question.contains(QStringLiteral("out.bin")), qPrintable(question));
    }

    void nameFilters() {
        QCOMPARE(ToNameFilters("bin files (*.bin)|*.bin|"),
                 QStringList{QStringLiteral("bin files (*.bin)")});
        QCOMPARE(
            ToNameFilters("Images|*.bin;*.hex|All|*.*|"),
            (QStringList{QStringLiteral("Images (*.bin *.hex)"), QStringLiteral("All (*.*)")}));
        QCOMPARE(ToNameFilters("dangling|"), QStringList{});
        // The default extension itself is the toolkit-free rule (FileDialogRulesTest).
    }

    void enterEndsTheDialogOnlyWithAValidChannel() {
        Ctl<QLineEdit>(IDC_CHANNEL)->setText(QStringLiteral("7x"));
        m_script->Press(QMessageBox::Ok);
        QTest::keyClick(Ctl(IDC_BROWSE), Qt::Key_Return);  // even with a button focused
        QVERIFY(m_dlg->isVisible());
        QCOMPARE(m_script->records.size(), std::size_t{1});

        Ctl<QLineEdit>(IDC_CHANNEL)->setText(QStringLiteral("12"));
        QTest::keyClick(Ctl(IDC_CHANNEL), Qt::Key_Return);
        QVERIFY(!m_dlg->isVisible());
        QCOMPARE(m_dlg->result(), int(QDialog::Accepted));
        QCOMPARE(m_dlg->m_nChannel, 12u);
    }

    void escapeEndsTheDialogWithoutValidation() {
        Ctl<QLineEdit>(IDC_CHANNEL)->setText(QStringLiteral("abc"));
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        QVERIFY(!m_dlg->isVisible());
        QCOMPARE(m_dlg->result(), int(QDialog::Rejected));
        QVERIFY(m_script->records.empty());
    }

    void aboutItemOpensTheAboutBox() {
        QString item;
        QTimer::singleShot(0, m_dlg.get(), [&item] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || menu->actions().size() != 1) return;
            item = menu->actions().first()->text();
            menu->actions().first()->trigger();
            menu->close();
        });
        m_script->Accept();
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                m_dlg->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(m_dlg.get(), &event);
        QCOMPARE(item, QStringLiteral("关于 Kestrel(&A)..."));
        QCOMPARE(m_script->records.size(), std::size_t{1});
        QCOMPARE(m_script->records[0].className, QStringLiteral("CAboutDlg"));
        QCOMPARE(m_script->records[0].title, QStringLiteral("关于 Kestrel"));

        // Other system commands do nothing here.
        m_dlg->OnSysCommand(0xF060);
        QCOMPARE(m_script->records.size(), std::size_t{1});
    }

    void aboutBoxLayout() {
        CAboutDlg about;
        QCOMPARE(about.windowTitle(), QStringLiteral("关于 Kestrel"));
        const QFontMetrics metrics(about.font());
        const int cx = (metrics.horizontalAdvance(QStringLiteral(
                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) +
                        26) /
                       52;
        const int cy = metrics.height();
        QCOMPARE(about.size(), ToPixels({0, 0, 235, 55}, cx, cy).size());
        QCOMPARE(about.minimumSize(), about.maximumSize());
        auto* version = about.findChild<QLabel*>(QStringLiteral("version"));
        QVERIFY(version);
        QCOMPARE(version->text(), QStringLiteral("Kestrel 1.0 版"));
        QCOMPARE(version->geometry(), ToPixels({40, 10, 119, 8}, cx, cy));
        auto* rights = about.findChild<QLabel*>(QStringLiteral("rights"));
        QVERIFY(rights && !rights->text().isEmpty());
        QCOMPARE(rights->geometry(), ToPixels({40, 25, 119, 8}, cx, cy));
        // The rights line fits its box in the dialog font.
        QVERIFY(metrics.horizontalAdvance(rights->text()) <= rights->width());
        auto* icon = about.findChild<QLabel*>(QStringLiteral("icon"));
        QVERIFY(icon && !icon->pixmap().isNull());
        QCOMPARE(icon->pos(), ToPixels({11, 17, 0, 0}, cx, cy).topLeft());
        auto* ok = about.findChild<QPushButton*>(QStringLiteral("1"));
        QVERIFY(ok);
        QCOMPARE(ok->text(), QStringLiteral("确定"));
        QVERIFY(ok->isDefault());
        QCOMPARE(ok->geometry(), ToPixels({178, 7, 50, 14}, cx, cy));
        about.show();
        QTest::keyClick(&about, Qt::Key_Return);
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }

    void iconIsTheApplicationIcon() {
        QVERIFY(!m_dlg->OnQueryDragIcon().isNull());
        QVERIFY(!m_dlg->windowIcon().isNull());
        const QImage image = m_dlg->OnQueryDragIcon().pixmap(32, 32).toImage();
        // Drawn, not blank: the centre is opaque and the corners are transparent.
        QVERIFY(qAlpha(image.pixel(16, 16)) == 255);
        QVERIFY(qAlpha(image.pixel(0, 0)) == 0);
    }
};

QTEST_MAIN(UpgradeDlgTest)
#include "UpgradeDlgTest.moc"
