#pragma once
// The About box: the icon, the program's name and version, a rights line and OK.

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    static constexpr int kIdOk = 1;
};
