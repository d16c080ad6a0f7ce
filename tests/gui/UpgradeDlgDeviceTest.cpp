// Whole upgrades through the dialog against the virtual device: the umockdev testbed runs in
// this process (the preload library is linked in), so the product's own drive search, open and
// SG_IO requests run unchanged underneath the dialog. The block timer is the dialog's own; the
// test waits for the run by processing events, as the dialog's user would.
#include <QLineEdit>
#include <QProgressBar>
#include <QtTest>

#include <cstring>
#include <memory>
#include <optional>

#include "app/qt/CUpgradeDlg.h"
#include "app/ControlIds.h"
#include "image/FirmwareImage.h"
#include "tests/gui/ModalScript.h"
#include "tests/support/ImageBuilder.h"
#include "vdev/VirtualTestbed.h"

namespace {

constexpr int kRunTimeoutMs = 60000;  // 84 blocks take about 2 s here; generous for sanitizers

}  // namespace

class UpgradeDlgDeviceTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<VirtualTestbed> m_bed;
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<CUpgradeDlg> m_dlg;
    std::unique_ptr<ModalScript> m_script;
    std::vector<std::uint8_t> m_image;

    QWidget* Ctl(int id) { return m_dlg->Control(id); }
    void Click(int id) { QTest::mouseClick(Ctl(id), Qt::LeftButton); }

    // The four buttons that a run locks, and Cancel, as (enabled) flags.
    QList<bool> Buttons() {
        QList<bool> flags;
        for (int id : {IDC_BROWSE, IDC_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY, IDC_CANCEL_UPGRADE})
            flags << Ctl(id)->isEnabled();
        return flags;
    }

private slots:
    void init() {
        std::memset(&g_image, 0, sizeof g_image);
        m_bed = std::make_unique<VirtualTestbed>(std::vector<VirtualDrive>{
            VirtualTestbed::FixedDisk("sda"), VirtualTestbed::UpgradeDevice("sdb")});
        m_dir = std::make_unique<TempDir>();
        m_dlg = std::make_unique<CUpgradeDlg>();
        m_script = std::make_unique<ModalScript>(*m_dlg);
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));

        m_image = BuildRawImage({});
        const std::string path = m_dir->File("sample.bin");
        WriteBytes(path, m_image);
        m_script->ChooseFile(QString::fromStdString(path));
        Click(IDC_BROWSE);
        QCOMPARE(m_dlg->m_strProgramFile, path);
        m_script->records.clear();
    }

    void cleanup() {
        QVERIFY2(!m_script->AnyUnexpected(), qPrintable(m_script->Texts().join(QLatin1Char('|'))));
        m_script.reset();
        m_dlg.reset();  // closes a handle left open before the testbed goes
        m_dir.reset();
        m_bed.reset();
    }

    void wholeUpgradeReachesTheEnd() {
        auto* bar = qobject_cast<QProgressBar*>(Ctl(IDC_PROGRESS));
        std::optional<int> valueAtFinish;
        std::optional<int> maximumAtFinish;
        std::optional<bool> handleOpenAtFinish;
        m_script->onOpen = [&](const ModalRecord& record) {
            if (record.text != QStringLiteral("Finish OK!")) return;
            valueAtFinish = bar->value();
            maximumAtFinish = bar->maximum();
            handleOpenAtFinish = m_dlg->m_hDevice != kInvalidDrive;
        };
        m_script->Press(QMessageBox::Ok);  // "Current Version is V1.0.0, Continue?"
        m_script->Press(QMessageBox::Ok);  // "Finish OK!"
        Click(IDC_UPGRADE);

        // Sending: only Cancel is usable, the timer is armed, the handle open.
        QCOMPARE(m_script->records.size(), std::size_t{1});
        QCOMPARE(m_script->records[0].text, QStringLiteral("Current Version is V1.0.0, Continue?"));
        QCOMPARE(m_script->records[0].title, QString());
        QVERIFY(m_dlg->BlockTimerActive());
        QCOMPARE(m_dlg->BlockTimerInterval(), 100);
        QCOMPARE(Buttons(), (QList<bool>{false, false, false, false, true}));
        QVERIFY(m_dlg->m_hDevice != kInvalidDrive);
        QCOMPARE(int(g_image.busy), 1);

        QTRY_VERIFY_WITH_TIMEOUT(m_script->records.size() == 2, kRunTimeoutMs);
        QCOMPARE(m_script->records[1].text, QStringLiteral("Finish OK!"));
        QVERIFY(valueAtFinish.has_value());
        QCOMPARE(*valueAtFinish, 100);
        QCOMPARE(*maximumAtFinish, 100);
        QVERIFY(*handleOpenAtFinish);

        // Idle again: handle closed, bar back at the start, every button usable.
        QCOMPARE(m_dlg->m_hDevice, kInvalidDrive);
        QVERIFY(!m_dlg->BlockTimerActive());
        QCOMPARE(int(g_image.busy), 0);
        QCOMPARE(bar->value(), 16);
        QCOMPARE(Buttons(), (QList<bool>{true, true, true, true, true}));

        // The device holds exactly the blocks of the range.
        const std::vector<std::uint8_t> flash = m_bed->Flash("sdb");
        QVERIFY(flash.size() >= 100 * 1024);
        QVERIFY(std::memcmp(flash.data() + 16 * 1024, m_image.data() + 16 * 1024, 84 * 1024) == 0);
    }

    void cancelDuringARunRestoresTheView() {
        m_script->Press(QMessageBox::Ok);  // the version prompt
        Click(IDC_UPGRADE);
        QTRY_VERIFY_WITH_TIMEOUT(m_dlg->ProgressPos() >= 20, kRunTimeoutMs);
        QCOMPARE(Buttons(), (QList<bool>{false, false, false, false, true}));
        Click(IDC_CANCEL_UPGRADE);  // waits 2 s for the device, then resets the view

        QVERIFY(!m_dlg->BlockTimerActive());
        QCOMPARE(m_dlg->m_hDevice, kInvalidDrive);
        QCOMPARE(int(g_image.busy), 0);
        QCOMPARE(m_dlg->ProgressPos(), 16);
        QCOMPARE(Buttons(), (QList<bool>{true, true, true, true, true}));
        QCOMPARE(m_script->records.size(), std::size_t{1});
    }

    void noDeviceIsReported() {
        m_bed.reset();
        m_bed = std::make_unique<VirtualTestbed>(
            std::vector<VirtualDrive>{VirtualTestbed::OrdinaryDrive("sdb")});
        m_script->Press(QMessageBox::Ok);
        Click(IDC_UPGRADE);
        QCOMPARE(m_script->Texts(), QStringList{QStringLiteral("Device Open Fail!")});
        QCOMPARE(m_script->records[0].title, QStringLiteral("kestrel_gui_upgrade_tests"));
        QVERIFY(!m_dlg->BlockTimerActive());
        QCOMPARE(Buttons(), (QList<bool>{true, true, true, true, true}));
    }
};

QTEST_MAIN(UpgradeDlgDeviceTest)
#include "UpgradeDlgDeviceTest.moc"
