#include "app/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/AppIcon.h"
#include "app/DialogUnits.h"

namespace {

constexpr char kCaption[] = "关于 Kestrel";
constexpr char kVersionLine[] = "Kestrel 1.0 版";
constexpr char kRightsLine[] = "版权所有 (C) 2026 Kestrel";
constexpr char kOk[] = "确定";
constexpr QSize kSizeDlu{235, 55};
constexpr int kIconSize = 32;

QLabel* AddStatic(QWidget* parent, const char* text, const QRect& dlu, DialogBaseUnits units) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(DluToPixels(dlu, units));
    label->setAccessibleName(label->text());
    return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QString::fromUtf8(kCaption));
    setWindowIcon(AppIcon());
    setFont(DialogFont());
    const DialogBaseUnits units = BaseUnitsOf(font());
    setFixedSize(DluToPixels(kSizeDlu, units));

    // An icon static takes the size of the icon it shows.
    auto* icon = new QLabel(this);
    const QRect iconAt = DluToPixels(QRect(11, 17, 0, 0), units);
    icon->setPixmap(AppIcon().pixmap(kIconSize, kIconSize));
    icon->setGeometry(iconAt.x(), iconAt.y(), kIconSize, kIconSize);
    icon->setObjectName(QStringLiteral("icon"));

    AddStatic(this, kVersionLine, {40, 10, 119, 8}, units)
        ->setObjectName(QStringLiteral("version"));
    AddStatic(this, kRightsLine, {40, 25, 119, 8}, units)->setObjectName(QStringLiteral("rights"));

    auto* ok = new QPushButton(QString::fromUtf8(kOk), this);
    ok->setObjectName(QString::number(kIdOk));
    ok->setGeometry(DluToPixels(QRect(178, 7, 50, 14), units));
    ok->setDefault(true);
    ok->setAccessibleName(ok->text());
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
