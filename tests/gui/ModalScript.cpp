#include "tests/gui/ModalScript.h"

#include <QLineEdit>
#include <QTimer>

#include "app/qt/CUpgradeDlg.h"

ModalScript::ModalScript(CUpgradeDlg& dlg) {
    dlg.SetModalRunner([this](QDialog& box) { return Run(box); });
}

int ModalScript::Run(QDialog& box) {
    ModalRecord record;
    record.className = QString::fromLatin1(box.metaObject()->className());
    record.title = box.windowTitle();
    if (auto* message = qobject_cast<QMessageBox*>(&box)) {
        record.text = message->text();
        record.icon = message->icon();
        record.buttons = message->standardButtons();
    }
    if (auto* files = qobject_cast<QFileDialog*>(&box)) {
        record.nameFilters = files->nameFilters();
        record.acceptMode = files->acceptMode();
        record.defaultSuffix = files->defaultSuffix();
        record.confirmsOverwrite = !files->testOption(QFileDialog::DontConfirmOverwrite);
    }
    record.unexpected = m_answers.empty();
    records.push_back(record);
    if (onOpen) onOpen(record);
    if (m_answers.empty()) return QDialog::Rejected;
    Answer answer = std::move(m_answers.front());
    m_answers.pop_front();
    return answer(box);
}

void ModalScript::Press(QMessageBox::StandardButton button) {
    Handle([button](QDialog&) { return static_cast<int>(button); });
}

void ModalScript::ChooseFile(const QString& path) {
    Handle([path](QDialog& box) {
        auto* files = qobject_cast<QFileDialog*>(&box);
        if (!files) return static_cast<int>(QDialog::Rejected);
        QTimer::singleShot(0, files, [files, path] {
            files->selectFile(path);
            static_cast<QDialog*>(files)->accept();
        });
        return files->exec();
    });
}

void ModalScript::CancelFile() {
    Handle([](QDialog& box) {
        QTimer::singleShot(0, &box, [&box] { box.reject(); });
        return box.exec();
    });
}

void ModalScript::Accept() {
    Handle([](QDialog&) { return static_cast<int>(QDialog::Accepted); });
}

bool ModalScript::AnyUnexpected() const {
    for (const ModalRecord& record : records)
        if (record.unexpected) return true;
    return false;
}

QStringList ModalScript::Texts() const {
    QStringList texts;
    for (const ModalRecord& record : records) texts << record.text;
    return texts;
}
