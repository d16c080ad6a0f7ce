#pragma once
// A message box the way the classic platform draws one: its buttons carry no icons, and a
// caption given empty stays empty. Qt fills an empty window title with the application's name
// on X11, so there the box clears its title properties itself once its window exists.

#include <QMessageBox>

class ClassicMessageBox : public QMessageBox {
    Q_OBJECT

public:
    ClassicMessageBox(Icon icon, const QString& title, const QString& text, StandardButtons buttons,
                      QWidget* parent);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ClearButtonIcons();
    void ClearX11Title();
};
