#include "app/ZimpConfigDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QVBoxLayout>

namespace app {

ZimpConfigDialog::ZimpConfigDialog(QWidget* parent)
    : QDialog(parent),
      blockSize(new QLineEdit(this)),
      echo(new QCheckBox(QStringLiteral("Echo"), this)) {
    setWindowTitle(QStringLiteral("ZIMP Configuration"));
    echo->setLayoutDirection(Qt::RightToLeft);  // its text on the left of the box
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Block Size"), blockSize);
    form->addRow(echo);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ZimpConfigDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ZimpConfigDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

bool ZimpConfigDialog::Run(profilestream& profile) {
    ReadProtocolSettings(profile, values_);
    blockSize->setText(QString::number(values_.blockSize));
    echo->setChecked(values_.echo != 0);
    blockSize->setFocus();
    if (exec() != QDialog::Accepted)
        return false;
    WriteProtocolSettings(profile, values_);
    return true;
}

void ZimpConfigDialog::accept() {
    if (CheckProtocolSettings(blockSize->text().toStdString(), echo->isChecked(), values_) !=
        ProtocolField::None) {
        blockSize->setFocus();
        blockSize->selectAll();
        return;
    }
    QDialog::accept();
}

}  // namespace app
