#include "app/qt/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/DialogTemplate.h"
#include "app/qt/AppIcon.h"
#include "app/qt/DialogFont.h"

namespace {

constexpr int kIconSize = 32;

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QString::fromUtf8(kAboutDlgTemplate.caption));
    setWindowIcon(AppIcon());
    setFont(DialogFont());
    const DialogBaseUnits units = BaseUnitsOf(font());
    const PixelRect size = DluToPixels(kAboutDlgTemplate.size, units);
    setFixedSize(size.w, size.h);

    int statics = 0;
    for (const ControlTemplate& row : kAboutDlgTemplate.controls) {
        const QRect at = ToQRect(DluToPixels(row.dlu, units));
        const QString text = QString::fromUtf8(row.text);
        switch (row.kind) {
            case ControlKind::Icon: {
                // An icon static takes the size of the icon it shows.
                auto* icon = new QLabel(this);
                icon->setPixmap(AppIcon().pixmap(kIconSize, kIconSize));
                icon->setGeometry(at.x(), at.y(), kIconSize, kIconSize);
                icon->setObjectName(QStringLiteral("icon"));
                break;
            }
            case ControlKind::Static: {
                auto* label = new QLabel(text, this);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setGeometry(at);
                label->setAccessibleName(text);
                label->setObjectName(statics++ == 0 ? QStringLiteral("version")
                                                    : QStringLiteral("rights"));
                break;
            }
            case ControlKind::PushButton: {
                auto* ok = new QPushButton(text, this);
                ok->setObjectName(QString::number(row.id));
                ok->setGeometry(at);
                ok->setDefault((row.style & kDefault) != 0);
                ok->setAccessibleName(text);
                connect(ok, &QPushButton::clicked, this, &QDialog::accept);
                break;
            }
            case ControlKind::GroupBox:
            case ControlKind::Edit:
            case ControlKind::ProgressBar:
            case ControlKind::Radio:
                break;  // the About box has none
        }
    }
}
