#include "app/ZimpConfigDialog.h"

#include <QDialogButtonBox>
#include "ui_ZimpConfigDialog.h"

using memops::CheckProtocolSettings;
using memops::ProtocolField;
using memops::ReadProtocolSettings;
using memops::WriteProtocolSettings;

using streams::Configuration;

namespace app {

ZimpConfigDialog::ZimpConfigDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ZimpConfigDialog>()) {
    ui_->setupUi(this);
    blockSize = ui_->blockSize;
    echo = ui_->echo;
    connect(ui_->buttons, &QDialogButtonBox::accepted, this, &ZimpConfigDialog::accept);
    connect(ui_->buttons, &QDialogButtonBox::rejected, this, &ZimpConfigDialog::reject);
}

ZimpConfigDialog::~ZimpConfigDialog() = default;

bool ZimpConfigDialog::Run(Configuration& profile) {
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
