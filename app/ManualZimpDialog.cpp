#include "app/ManualZimpDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextCursor>
#include <QVBoxLayout>

namespace app {

ManualZimpDialog::ManualZimpDialog(QWidget* parent)
    : QDialog(parent),
      command(new QLineEdit(this)),
      checkSum(new QCheckBox(QStringLiteral("Check Sum"), this)),
      reply(new QPlainTextEdit(this)),
      target_(this, [this](uint32_t m, intptr_t w, intptr_t l) { OnPortEvent(m, w, l); }) {
    setWindowTitle(QStringLiteral("Manual ZIMP"));
    checkSum->setChecked(true);
    reply->setReadOnly(true);
    reply->setLineWrapMode(QPlainTextEdit::NoWrap);
    reply->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reply->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* label = new QLabel(QStringLiteral("Command"), this);
    label->setBuddy(command);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(command, 1);
    row->addWidget(checkSum);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ManualZimpDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ManualZimpDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(reply, 1);
    layout->addWidget(buttons);
    resize(480, 260);
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
