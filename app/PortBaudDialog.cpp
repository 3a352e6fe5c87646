#include "app/PortBaudDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QVBoxLayout>

namespace app {

PortBaudDialog::PortBaudDialog(const PortChoice& current, QWidget* parent)
    : QDialog(parent),
      portName(new QLineEdit(QString::fromStdString(current.name), this)),
      rate(new QLineEdit(QString::number(current.rate), this)),
      factor(new QLineEdit(QString::number(current.factor), this)),
      chosen_(current) {
    setWindowTitle(QStringLiteral("Write Port# and baudrate"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Port# (0-7)"), portName);
    form->addRow(QStringLiteral("Baudrate"), rate);
    form->addRow(QStringLiteral("Baud Rate Factor"), factor);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &PortBaudDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PortBaudDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    portName->setMinimumWidth(portName->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 40);
}

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
