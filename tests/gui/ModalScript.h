#pragma once
// Answers the dialog's modal boxes for a test. Each box the dialog opens is recorded (what kind,
// caption, text, icon, buttons, file filters) and answered by the next scripted answer; a box
// without an answer is recorded as unexpected and cancelled, so a test fails instead of hanging.

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

class CUpgradeDlg;

struct ModalRecord {
    QString className;  // "QMessageBox", "QFileDialog", "CAboutDlg"
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QStringList nameFilters;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    QString defaultSuffix;
    bool confirmsOverwrite = false;
    bool unexpected = false;
};

class ModalScript {
public:
    using Answer = std::function<int(QDialog&)>;

    explicit ModalScript(CUpgradeDlg& dlg);

    // A message box answered with this button, without running it.
    void Press(QMessageBox::StandardButton button);
    // The file dialog runs for real; the path is chosen in it and accepted, as a user would.
    void ChooseFile(const QString& path);
    void CancelFile();
    // Any box: accepted without running it.
    void Accept();
    // Called with the box; returns the box's result.
    void Handle(Answer answer) { m_answers.push_back(std::move(answer)); }

    // Runs for every box as it opens, before it is answered (to look at the dialog then).
    std::function<void(const ModalRecord&)> onOpen;

    std::vector<ModalRecord> records;
    bool AllAnswered() const { return m_answers.empty(); }
    bool AnyUnexpected() const;
    QStringList Texts() const;

private:
    int Run(QDialog& box);

    std::deque<Answer> m_answers;
};
