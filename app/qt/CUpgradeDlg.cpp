#include "app/qt/CUpgradeDlg.h"

#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QThread>

#include <algorithm>
#include <array>

#include "app/ChannelText.h"
#include "app/ControlIds.h"
#include "app/DialogTemplate.h"
#include "app/FileDialogRules.h"
#include "app/qt/AppIcon.h"
#include "app/qt/CAboutDlg.h"
#include "app/qt/ClassicMessageBox.h"
#include "app/qt/NameFilters.h"
#include "app/qt/TemplateWidgets.h"
#include "device/VendorCommands.h"

namespace {

constexpr int kIconSize = 32;  // the large icon the dialog paints when minimised

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CUpgradeDlg::CUpgradeDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_hIcon(AppIcon()) {
    m_nFileType = -1;  // no radio checked until initialisation chooses BIN
    m_blockTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_blockTimer, &QTimer::timeout, this, [this] { m_handlers.OnTimer(kBlockTimerId); });

    setWindowTitle(QString::fromUtf8(kUpgradeDlgTemplate.caption));
    setFont(DialogFont());
    m_font = font();
    m_units = BaseUnitsOf(m_font);
    const PixelRect size = DluToPixels(kUpgradeDlgTemplate.size, m_units);
    setFixedSize(size.w, size.h);
    setSizeGripEnabled(false);

    CreateControls();
    CUpgradeDlg::PushValues();  // the base initialisation shows the constructor's values
    OnInitDialog();
}

CUpgradeDlg::~CUpgradeDlg() {
    m_blockTimer.stop();
    if (m_hDevice != kInvalidDrive) {
        CloseDevice(m_hDevice);
        m_hDevice = kInvalidDrive;
    }
}

void CUpgradeDlg::CreateControls() {
    m_widgets = std::make_unique<TemplateWidgets>(
        *this, kUpgradeDlgTemplate, m_units,
        [](QWidget* owner) -> QPushButton* { return new CCoolButton(owner); });
    m_fileTypeGroup = m_widgets->RadioGroup();

    m_btnGenBody = static_cast<CCoolButton*>(Control(IDC_GEN_BODY));
    m_btnGenBin = static_cast<CCoolButton*>(Control(IDC_GEN_BIN));
    m_btnUpgrade = static_cast<CCoolButton*>(Control(IDC_UPGRADE));
    m_btnBrowse = static_cast<CCoolButton*>(Control(IDC_BROWSE));
    m_btnCancel = static_cast<CCoolButton*>(Control(IDC_CANCEL_UPGRADE));
    m_progress = static_cast<QProgressBar*>(Control(IDC_PROGRESS));
    m_editProgramFile = static_cast<QLineEdit*>(Control(IDC_PROGRAM_FILE));
    m_editSpace = static_cast<QLineEdit*>(Control(IDC_SPACE));
    m_editChannel = static_cast<QLineEdit*>(Control(IDC_CHANNEL));

    for (const auto& [id, control] : m_widgets->Controls()) {
        if (!UpgradeDlgHandlers::HasCommand(id)) continue;
        connect(static_cast<QAbstractButton*>(control), &QAbstractButton::clicked, this,
                [this, id = id] { m_handlers.OnCommand(id); });
    }
}

void CUpgradeDlg::OnInitDialog() {
    // The platform has no system menu here: the About item lives in the context menu
    // (contextMenuEvent), so there is nothing to append.
    setWindowIcon(m_hIcon);
    m_handlers.OnInitDialog();
}

QWidget* CUpgradeDlg::Control(int id) const {
    return m_widgets->Control(id);
}

QString CUpgradeDlg::ApplicationName() {
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return name.isEmpty() ? QCoreApplication::applicationName() : name;
}

int CUpgradeDlg::RunModal(QDialog& box) {
    return m_runModal ? m_runModal(box) : box.exec();
}

void CUpgradeDlg::ShowMessage(const std::string& text) {
    ClassicMessageBox box(QMessageBox::NoIcon, ApplicationName(), FromUtf8(text), QMessageBox::Ok,
                          this);
    RunModal(box);
}

bool CUpgradeDlg::AskOkCancel(const std::string& text) {
    ClassicMessageBox box(QMessageBox::NoIcon, QString(), FromUtf8(text),
                          QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    return RunModal(box) == QMessageBox::Ok;
}

std::optional<std::string> CUpgradeDlg::ChooseFile(FileDialogMode mode,
                                                   const std::string& defaultExtension,
                                                   const std::string& filter) {
    QFileDialog dialog(this);
    const QString extension = FromUtf8(defaultExtension);
    if (mode == FileDialogMode::Save) {
        // Qt asks before an existing file is replaced unless told not to.
        dialog.setAcceptMode(QFileDialog::AcceptSave);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
    }
    // Any name may be typed, as on the original platform; the loader reports a missing file.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(ToNameFilters(filter));
    dialog.setDefaultSuffix(extension);
    if (RunModal(dialog) != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
    return ApplyDefaultExtension(files.first().toStdString(), defaultExtension);
}

void CUpgradeDlg::PushValues() {
    m_editSpace->setText(FromUtf8(m_strSpace));
    m_editSpace->setCursorPosition(0);
    m_editProgramFile->setText(FromUtf8(m_strProgramFile));
    m_editProgramFile->setCursorPosition(0);
    if (QAbstractButton* radio = m_fileTypeGroup->button(RadioOfFileType(m_nFileType))) {
        radio->setChecked(true);
    } else {
        // A value outside the group leaves no radio checked.
        m_fileTypeGroup->setExclusive(false);
        for (QAbstractButton* button : m_fileTypeGroup->buttons()) button->setChecked(false);
        m_fileTypeGroup->setExclusive(true);
    }
    m_editChannel->setText(QString::number(m_nChannel));
    m_editChannel->setCursorPosition(0);
}

bool CUpgradeDlg::ReadValues() {
    m_strSpace = m_editSpace->text().toStdString();
    m_strProgramFile = m_editProgramFile->text().toStdString();
    m_nFileType = FileTypeOfRadio(m_fileTypeGroup->checkedId());
    const auto channel = ParseChannelText(m_editChannel->text().toStdString());
    if (!channel) {
        ClassicMessageBox box(QMessageBox::Warning, ApplicationName(),
                              QString::fromUtf8(kMsgChannelInvalid), QMessageBox::Ok, this);
        RunModal(box);
        m_editChannel->setFocus(Qt::OtherFocusReason);
        m_editChannel->selectAll();
        return false;
    }
    m_nChannel = *channel;
    return true;
}

void CUpgradeDlg::EnableButton(int id, bool on) {
    if (QWidget* control = Control(id)) control->setEnabled(on);
}

void CUpgradeDlg::SetProgressRange(std::uint16_t minimum, std::uint16_t maximum) {
    m_progressMin = minimum;
    m_progressMax = maximum;
    m_progressPos = std::min(std::max(m_progressPos, m_progressMin), m_progressMax);
    ShowProgress();
}

void CUpgradeDlg::SetProgressStep(int step) {
    m_progressStep = step;
}

void CUpgradeDlg::SetProgressPos(int pos) {
    m_progressPos = std::min(std::max(pos, m_progressMin), m_progressMax);
    ShowProgress();
}

void CUpgradeDlg::StepProgress() {
    int pos = m_progressPos + m_progressStep;
    // Stepping past the end starts over from the beginning, as the platform's control does.
    if (pos > m_progressMax) pos = m_progressMin;
    SetProgressPos(pos);
}

void CUpgradeDlg::ShowProgress() {
    if (m_progressMax > m_progressMin) {
        m_progress->setRange(m_progressMin, m_progressMax);
        m_progress->setValue(m_progressPos);
    } else {
        // Qt animates an empty range as "busy"; the original control shows an empty bar.
        m_progress->setRange(0, 1);
        m_progress->setValue(0);
    }
}

void CUpgradeDlg::StartBlockTimer(unsigned intervalMs) {
    m_blockTimer.start(static_cast<int>(std::min<unsigned>(intervalMs, 0x7fffffff)));
}

void CUpgradeDlg::StopBlockTimer() {
    m_blockTimer.stop();
}

void CUpgradeDlg::Wait(unsigned ms) {
    QThread::msleep(ms);
}

void CUpgradeDlg::OnOK() {
    if (ReadValues()) accept();
}

void CUpgradeDlg::OnSysCommand(unsigned id) {
    if (UpgradeDlgHandlers::IsAboutCommand(id)) {
        CAboutDlg about(this);
        RunModal(about);
    }
}

QMenu* CUpgradeDlg::CreateSystemMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    QAction* about = menu->addAction(QString::fromUtf8(kAboutItemText));
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    return menu;
}

void CUpgradeDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
                OnOK();
                return;
            }
            break;
        case Qt::Key_F1:
            return;  // no help file belongs to the tool
        default:
            break;
    }
    QDialog::keyPressEvent(event);
}

void CUpgradeDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = CreateSystemMenu(this);
    menu->exec(event->globalPos());
    delete menu;
}

void CUpgradeDlg::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRect client = rect();
    painter.drawPixmap((client.width() - kIconSize + 1) / 2, (client.height() - kIconSize + 1) / 2,
                       m_hIcon.pixmap(kIconSize, kIconSize));
}
