#include "app/PortBaudDialog.h"

#include <QDialogButtonBox>
#include "ui_PortBaudDialog.h"

using memops::CheckPortChoice;
using memops::PortChoice;
using memops::PortChoiceField;

namespace app {

PortBaudDialog::PortBaudDialog(const PortChoice& current, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::PortBaudDialog>()), chosen_(current) {
    ui_->setupUi(this);
    portName = ui_->portName;
    rate = ui_->rate;
    factor = ui_->factor;
    portName->setText(QString::fromStdString(current.name));
    rate->setText(QString::number(current.rate));
    factor->setText(QString::number(current.factor));
    connect(ui_->buttons, &QDialogButtonBox::accepted, this, &PortBaudDialog::accept);
    connect(ui_->buttons, &QDialogButtonBox::rejected, this, &PortBaudDialog::reject);
}

PortBaudDialog::~PortBaudDialog() = default;

void PortBaudDialog::accept() {
    switch (CheckPortChoice(portName->text().toStdString(), rate->text().toStdString(),
                            factor->text().toStdString(), chosen_)) {
        case PortChoiceField::Rate:
            rate->setFocus();
            rate->selectAll();
            return;
        case PortChoiceField::Factor:
            factor->setFocus();
            factor->selectAll();
            return;
        case PortChoiceField::None:
            break;
    }
    QDialog::accept();
}

}  // namespace app
