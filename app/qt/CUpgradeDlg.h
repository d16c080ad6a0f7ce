#pragma once
// The main dialog: the upgrade tool's one window. It holds the dialog state, provides the
// dialog services with its controls, and forwards each button, the block timer and the About
// item to the handlers both dialogs share (UpgradeDlgHandlers).

#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <functional>
#include <memory>

#include "app/DialogView.h"
#include "app/UpgradeDlgHandlers.h"
#include "app/qt/DialogFont.h"
#include "ui/qt/CCoolButton.h"

class QButtonGroup;
class QLineEdit;
class QMenu;
class QProgressBar;
class QRadioButton;
class TemplateWidgets;

class CUpgradeDlg : public QDialog, public DialogView {
    Q_OBJECT

public:
    explicit CUpgradeDlg(QWidget* parent = nullptr);
    ~CUpgradeDlg() override;

    // Every modal box the dialog opens (messages, prompts, file dialogs, the About box) runs
    // through this, so that tests can look at a box and answer it. The default runs exec().
    using ModalRunner = std::function<int(QDialog&)>;
    void SetModalRunner(ModalRunner runner) { m_runModal = std::move(runner); }

    // Dialog services.
    void ShowMessage(const std::string& text) override;
    bool AskOkCancel(const std::string& text) override;
    std::optional<std::string> ChooseFile(FileDialogMode mode, const std::string& defaultExtension,
                                          const std::string& filter) override;
    void PushValues() override;
    bool ReadValues() override;
    void EnableButton(int id, bool on) override;
    void SetProgressRange(std::uint16_t minimum, std::uint16_t maximum) override;
    void SetProgressStep(int step) override;
    void SetProgressPos(int pos) override;
    void StepProgress() override;
    void StartBlockTimer(unsigned intervalMs) override;
    void StopBlockTimer() override;
    void Wait(unsigned ms) override;

    // The progress bar as the core set it; the widget shows a 0..0 range as an empty bar.
    int ProgressMinimum() const { return m_progressMin; }
    int ProgressMaximum() const { return m_progressMax; }
    int ProgressPos() const { return m_progressPos; }
    bool BlockTimerActive() const { return m_blockTimer.isActive(); }
    int BlockTimerInterval() const { return m_blockTimer.interval(); }
    Qt::TimerType BlockTimerType() const { return m_blockTimer.timerType(); }

    // The control with the given template ID (its objectName is the ID).
    QWidget* Control(int id) const;
    const QFont& TemplateFont() const { return m_font; }
    DialogBaseUnits BaseUnits() const { return m_units; }

    // The caption of ShowMessage: the program file's name without its path and extension.
    static QString ApplicationName();

    // Handlers.
    void OnOK();
    void OnSysCommand(unsigned id);
    QIcon OnQueryDragIcon() const { return m_hIcon; }

    // The item that stands in for the system menu's About entry on platforms without one.
    QMenu* CreateSystemMenu(QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void CreateControls();
    void OnInitDialog();
    void ShowProgress();
    int RunModal(QDialog& box);

    QFont m_font;
    DialogBaseUnits m_units;

    // Members bound to controls, in the order the template binds them.
    CCoolButton* m_btnGenBody = nullptr;
    CCoolButton* m_btnGenBin = nullptr;
    CCoolButton* m_btnUpgrade = nullptr;
    CCoolButton* m_btnBrowse = nullptr;
    CCoolButton* m_btnCancel = nullptr;
    QProgressBar* m_progress = nullptr;
    QIcon m_hIcon;

    QLineEdit* m_editProgramFile = nullptr;
    QLineEdit* m_editSpace = nullptr;
    QLineEdit* m_editChannel = nullptr;
    QButtonGroup* m_fileTypeGroup = nullptr;
    std::unique_ptr<TemplateWidgets> m_widgets;

    int m_progressMin = 0;
    int m_progressMax = 0;
    int m_progressPos = 0;
    int m_progressStep = 10;  // the progress control's own default
    QTimer m_blockTimer;

    ModalRunner m_runModal;
    UpgradeDlgHandlers m_handlers{*this};
};
