#include "app/qt/CAboutDlg.h"

#include <QPushButton>

#include "app/DialogTemplate.h"
#include "app/qt/AppIcon.h"
#include "app/qt/DialogFont.h"
#include "app/qt/TemplateWidgets.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QString::fromUtf8(kAboutDlgTemplate.caption));
    setWindowIcon(AppIcon());
    setFont(DialogFont());
    const DialogBaseUnits units = BaseUnitsOf(font());
    const PixelRect size = DluToPixels(kAboutDlgTemplate.size, units);
    setFixedSize(size.w, size.h);

    TemplateWidgets widgets(*this, kAboutDlgTemplate, units,
                            [](QWidget* owner) { return new QPushButton(owner); });
    int statics = 0;
    for (std::size_t i = 0; i < widgets.Rows().size(); ++i) {
        QWidget* widget = widgets.Rows()[i];
        // The tests and assistive tools find the icon and the two lines by name.
        const ControlKind kind = kAboutDlgTemplate.controls[i].kind;
        if (kind == ControlKind::Icon) widget->setObjectName(QStringLiteral("icon"));
        if (kind == ControlKind::Static)
            widget->setObjectName(statics++ == 0 ? QStringLiteral("version")
                                                 : QStringLiteral("rights"));
    }
    connect(static_cast<QPushButton*>(widgets.Control(IDOK_ABOUT)), &QPushButton::clicked, this,
            &QDialog::accept);
}
