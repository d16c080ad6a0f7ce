#include "app/qt/TemplateWidgets.h"

#include <QButtonGroup>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>

#include "app/qt/AppIcon.h"
#include "app/qt/DialogFont.h"

namespace {

constexpr int kIconSize = 32;  // an icon static takes the size of the icon it shows

}  // namespace

TemplateWidgets::TemplateWidgets(QDialog& dialog, const DialogTemplate& dlg, DialogBaseUnits units,
                                 const ButtonFactory& makeButton)
    : m_radios(new QButtonGroup(&dialog)) {
    std::vector<QWidget*> groupBoxes;
    std::vector<std::pair<QLabel*, int>> labels;
    int index = 0;
    for (const ControlTemplate& row : dlg.controls) {
        const QString text = QString::fromUtf8(row.text);
        const QRect at = ToQRect(DluToPixels(row.dlu, units));
        QWidget* widget = nullptr;
        switch (row.kind) {
            case ControlKind::PushButton: {
                QPushButton* button = makeButton(&dialog);
                button->setText(text);
                // Enter belongs to the dialog (it ends it after validation) or to the default
                // button the template names, never to whichever button has the focus.
                button->setAutoDefault(false);
                button->setDefault((row.style & kDefault) != 0);
                widget = button;
                break;
            }
            case ControlKind::GroupBox: {
                auto* box = new QGroupBox(text, &dialog);
                // Only an etched frame, its top edge half a line down as the platform draws an
                // untitled group box, with no panel fill; clicks and the context menu go to
                // whatever lies beneath.
                box->setStyleSheet(QStringLiteral("QGroupBox { border: 2px groove palette(mid); "
                                                  "margin-top: %1px; }")
                                       .arg(units.cy / 2));
                box->setAttribute(Qt::WA_TransparentForMouseEvents);
                box->setFocusPolicy(Qt::NoFocus);
                groupBoxes.push_back(box);
                widget = box;
                break;
            }
            case ControlKind::Edit: {
                auto* edit = new QLineEdit(&dialog);
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
                auto* label = new QLabel(text, &dialog);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setWordWrap(true);
                if (row.labelFor != kNoId) labels.emplace_back(label, row.labelFor);
                widget = label;
                break;
            }
            case ControlKind::ProgressBar: {
                auto* bar = new QProgressBar(&dialog);
                bar->setTextVisible(false);
                bar->setFocusPolicy(Qt::NoFocus);
                widget = bar;
                break;
            }
            case ControlKind::Icon: {
                auto* icon = new QLabel(&dialog);
                icon->setPixmap(AppIcon().pixmap(kIconSize, kIconSize));
                widget = icon;
                break;
            }
            case ControlKind::Radio: {
                auto* radio = new QRadioButton(text, &dialog);
                // The radios are not tab stops in the template: reached by mouse or arrow keys.
                radio->setFocusPolicy(Qt::ClickFocus);
                m_radios->addButton(radio, row.id);
                widget = radio;
                break;
            }
        }
        if (!(row.style & kTabStop) && row.kind != ControlKind::Radio)
            widget->setFocusPolicy(Qt::NoFocus);
        if (row.kind == ControlKind::Icon)
            widget->setGeometry(at.x(), at.y(), kIconSize, kIconSize);
        else
            widget->setGeometry(at);
        widget->setProperty("templateIndex", index++);
        widget->setProperty("controlId", row.id);
        if (row.id != kNoId) {
            widget->setObjectName(QString::number(row.id));
            m_controls[row.id] = widget;
        }
        if (!text.isEmpty()) widget->setAccessibleName(text);
        m_rows.push_back(widget);
    }
    m_radios->setExclusive(true);
    for (QWidget* box : groupBoxes) box->lower();

    // The labels name their boxes for assistive technology, as the table pairs them.
    for (const auto& [label, id] : labels) {
        QWidget* box = Control(id);
        if (box == nullptr) continue;
        label->setBuddy(box);
        box->setAccessibleName(label->text());
    }
}

QWidget* TemplateWidgets::Control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}
