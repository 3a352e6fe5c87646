#include "app/ManualZimpDialog.h"

#include <QDialogButtonBox>
#include <QTextCursor>
#include "ui_ManualZimpDialog.h"

using memops::ManualZimp;

using serial::SerialPort;

namespace app {

ManualZimpDialog::ManualZimpDialog(QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ManualZimpDialog>()),
      target_(this, [this](uint32_t m, intptr_t w, intptr_t l) { OnPortEvent(m, w, l); }) {
    ui_->setupUi(this);
    command = ui_->command;
    checkSum = ui_->checkSum;
    reply = ui_->reply;
    connect(ui_->buttons, &QDialogButtonBox::accepted, this, &ManualZimpDialog::accept);
    connect(ui_->buttons, &QDialogButtonBox::rejected, this, &ManualZimpDialog::reject);
}

ManualZimpDialog::~ManualZimpDialog() {
    if (manual_)
        manual_->Close();
}

int ManualZimpDialog::Run(SerialPort* port) {
    reply->clear();
    manual_ = std::make_unique<ManualZimp>(port, *this, target_);
    if (!manual_->Open()) {
        manual_.reset();
        return QDialog::Rejected;
    }
    command->setFocus();
    const int result = exec();
    manual_->Close();
    manual_.reset();
    return result;
}

void ManualZimpDialog::accept() {
    if (!manual_)
        return;
    if (!manual_->Send(command->text().toStdString(), checkSum->isChecked())) {
        command->setFocus();
        command->selectAll();
        return;
    }
    command->setText(QString::fromStdString(manual_->CommandText()));
}

void ManualZimpDialog::reject() {
    if (manual_)
        manual_->Close();
    QDialog::reject();
}

void ManualZimpDialog::AppendReply(const std::string& text) {
    QString t = QString::fromStdString(text).toUpper();
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    reply->moveCursor(QTextCursor::End);
    reply->insertPlainText(t);
    reply->ensureCursorVisible();
}

void ManualZimpDialog::OnPortEvent(uint32_t message, intptr_t result, intptr_t) {
    if (manual_ && message == ManualZimp::kEventMessage)
        manual_->OnEvent(static_cast<int32_t>(result));
}

}  // namespace app
