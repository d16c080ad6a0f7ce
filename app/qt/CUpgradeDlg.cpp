#include "app/qt/CUpgradeDlg.h"

#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QRadioButton>
#include <QThread>

#include <algorithm>
#include <array>

#include "app/ChannelText.h"
#include "app/ControlIds.h"
#include "app/DialogTemplate.h"
#include "app/qt/AppIcon.h"
#include "app/qt/CAboutDlg.h"
#include "app/qt/ClassicMessageBox.h"
#include "app/qt/NameFilters.h"
#include "device/UpgradeProtocol.h"
#include "device/VendorCommands.h"
#include "image/DerivedFiles.h"
#include "image/FirmwareImage.h"

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
    connect(&m_blockTimer, &QTimer::timeout, this, [this] { SendNextBlock(*this); });

    setWindowTitle(QString::fromUtf8(kUpgradeDlgTemplate.caption));
    setFont(DialogFont());
    m_font = font();
    m_units = BaseUnitsOf(m_font);
    const PixelRect size = DluToPixels(kUpgradeDlgTemplate.size, m_units);
    setFixedSize(size.w, size.h);
    setSizeGripEnabled(false);

    CreateControls();
    PushValues();  // the base initialisation shows the constructor's values
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
    QLabel* programFileLabel = nullptr;
    QLabel* channelLabel = nullptr;
    std::vector<QWidget*> groupBoxes;
    m_fileTypeGroup = new QButtonGroup(this);

    int index = 0;
    for (const ControlTemplate& row : kUpgradeDlgTemplate.controls) {
        const QString text = QString::fromUtf8(row.text);
        QWidget* widget = nullptr;
        switch (row.kind) {
            case ControlKind::PushButton: {
                auto* button = new CCoolButton(this);
                button->setText(text);
                // Enter belongs to the dialog (it ends it after validation), never to a button.
                button->setAutoDefault(false);
                button->setDefault(false);
                widget = button;
                break;
            }
            case ControlKind::GroupBox: {
                auto* box = new QGroupBox(text, this);
                // Only an etched frame, its top edge half a line down as the platform draws an
                // untitled group box, with no panel fill; clicks and the context menu go to
                // whatever lies beneath.
                box->setStyleSheet(QStringLiteral("QGroupBox { border: 2px groove palette(mid); "
                                                  "margin-top: %1px; }")
                                       .arg(m_units.cy / 2));
                box->setAttribute(Qt::WA_TransparentForMouseEvents);
                box->setFocusPolicy(Qt::NoFocus);
                groupBoxes.push_back(box);
                widget = box;
                break;
            }
            case ControlKind::Edit: {
                auto* edit = new QLineEdit(this);
                edit->setFrame((row.style & kBorder) != 0);
                edit->setReadOnly((row.style & kReadOnly) != 0);
                if (row.style & kAlignRight)
                    edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                else if (row.style & kAlignCentre)
                    edit->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
                if (edit->isReadOnly()) {
                    // A read-only edit without a border shows whatever lies beneath it, as on the
                    // original platform, not the input background.
                    QPalette palette = edit->palette();
                    palette.setColor(QPalette::Base, Qt::transparent);
                    edit->setPalette(palette);
                }
                widget = edit;
                break;
            }
            case ControlKind::Static: {
                auto* label = new QLabel(text, this);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setWordWrap(true);
                if (text == QLatin1String("Program File")) programFileLabel = label;
                if (text == QLatin1String("Channel")) channelLabel = label;
                widget = label;
                break;
            }
            case ControlKind::ProgressBar: {
                auto* bar = new QProgressBar(this);
                bar->setTextVisible(false);
                bar->setFocusPolicy(Qt::NoFocus);
                widget = bar;
                break;
            }
            case ControlKind::Icon:
                continue;  // only the About box has one
            case ControlKind::Radio: {
                auto* radio = new QRadioButton(text, this);
                // The radios are not tab stops in the template: reached by mouse or arrow keys.
                radio->setFocusPolicy(Qt::ClickFocus);
                m_fileTypeGroup->addButton(radio, row.id == IDC_BIN ? kFileTypeBin : kFileTypeHex);
                widget = radio;
                break;
            }
        }
        if (!(row.style & kTabStop) && row.kind != ControlKind::Radio)
            widget->setFocusPolicy(Qt::NoFocus);
        widget->setGeometry(ToQRect(DluToPixels(row.dlu, m_units)));
        widget->setProperty("templateIndex", index++);
        widget->setProperty("controlId", row.id);
        if (row.id != kNoId) {
            widget->setObjectName(QString::number(row.id));
            m_controls[row.id] = widget;
        }
        if (!text.isEmpty()) widget->setAccessibleName(text);
    }
    m_fileTypeGroup->setExclusive(true);
    for (QWidget* box : groupBoxes) box->lower();

    m_btnGenBody = static_cast<CCoolButton*>(m_controls.at(IDC_GEN_BODY));
    m_btnGenBin = static_cast<CCoolButton*>(m_controls.at(IDC_GEN_BIN));
    m_btnUpgrade = static_cast<CCoolButton*>(m_controls.at(IDC_UPGRADE));
    m_btnBrowse = static_cast<CCoolButton*>(m_controls.at(IDC_BROWSE));
    m_btnCancel = static_cast<CCoolButton*>(m_controls.at(IDC_CANCEL_UPGRADE));
    m_progress = static_cast<QProgressBar*>(m_controls.at(IDC_PROGRESS));
    m_editProgramFile = static_cast<QLineEdit*>(m_controls.at(IDC_PROGRAM_FILE));
    m_editSpace = static_cast<QLineEdit*>(m_controls.at(IDC_SPACE));
    m_editChannel = static_cast<QLineEdit*>(m_controls.at(IDC_CHANNEL));

    // The labels name their edit boxes for assistive technology.
    programFileLabel->setBuddy(m_editProgramFile);
    m_editProgramFile->setAccessibleName(programFileLabel->text());
    channelLabel->setBuddy(m_editChannel);
    m_editChannel->setAccessibleName(channelLabel->text());

    connect(m_btnBrowse, &QAbstractButton::clicked, this, [this] { OnBrowse(); });
    connect(m_btnUpgrade, &QAbstractButton::clicked, this, [this] { StartUpgrade(*this); });
    connect(m_btnCancel, &QAbstractButton::clicked, this, [this] { CancelUpgrade(*this); });
    connect(m_btnGenBin, &QAbstractButton::clicked, this, [this] { WriteBinFiles(*this); });
    connect(m_btnGenBody, &QAbstractButton::clicked, this, [this] { WriteBodyFile(*this); });
}

void CUpgradeDlg::OnInitDialog() {
    // The platform has no system menu here: the About item lives in the context menu
    // (contextMenuEvent), so there is nothing to append.
    setWindowIcon(m_hIcon);
    InitDialogState();
}

QWidget* CUpgradeDlg::Control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
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
    return ApplyDefaultExtension(files.first(), extension).toStdString();
}

void CUpgradeDlg::PushValues() {
    m_editSpace->setText(FromUtf8(m_strSpace));
    m_editSpace->setCursorPosition(0);
    m_editProgramFile->setText(FromUtf8(m_strProgramFile));
    m_editProgramFile->setCursorPosition(0);
    if (QAbstractButton* radio = m_fileTypeGroup->button(m_nFileType)) {
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
    m_nFileType = m_fileTypeGroup->checkedId();
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
    if (IsAboutCommand(id)) {
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
