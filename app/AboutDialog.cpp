#include "app/AboutDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/AppIcon.h"

namespace app {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About ZimpProtocol"));
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(32, 32));
    auto* name = new QLabel(
        QStringLiteral("ZimpProtocol Version %1").arg(QStringLiteral(ZIMP_VERSION)), this);
    auto* what = new QLabel(
        QStringLiteral("Loads, saves and boot-loads radio memories over a ZIMP serial line."),
        this);
    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(what);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &AboutDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace app
