#pragma once
// A dialog template made into Qt widgets, in one place for both dialogs: one widget per row,
// created in template (tab) order with its geometry converted from dialog units through the
// dialog's font, its styles, tab stop, ID (objectName and property "controlId"), row
// (property "templateIndex") and accessible name, and every label paired with the box the
// table says it names. Push buttons come from the caller (the main dialog's are hover buttons).

#include <QPushButton>

#include <functional>
#include <map>
#include <vector>

#include "app/DialogTemplate.h"

class QButtonGroup;
class QDialog;

class TemplateWidgets {
public:
    using ButtonFactory = std::function<QPushButton*(QWidget* parent)>;

    // Builds the controls as children of dialog, whose font must already be the dialog font.
    TemplateWidgets(QDialog& dialog, const DialogTemplate& dlg, DialogBaseUnits units,
                    const ButtonFactory& makeButton);

    // The control with this ID, or nullptr.
    QWidget* Control(int id) const;
    const std::map<int, QWidget*>& Controls() const { return m_controls; }
    // The widget of each template row (nullptr for none), in template order.
    const std::vector<QWidget*>& Rows() const { return m_rows; }
    // The radio buttons, each with its control ID as the group ID.
    QButtonGroup* RadioGroup() const { return m_radios; }

private:
    std::vector<QWidget*> m_rows;
    std::map<int, QWidget*> m_controls;
    QButtonGroup* m_radios = nullptr;
};
