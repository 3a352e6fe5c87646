#include "app/RequestsDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QRadioButton>
#include <QTextCursor>

#include "ui_RequestsDialog.h"

using memops::RequestOutcome;
using memops::RequestsField;
using memops::RequestsSession;
using memops::ZimpRequest;

using serial::SerialPort;

using streams::Configuration;

namespace app {

RequestsDialog::RequestsDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::RequestsDialog>()) {
    ui_->setupUi(this);
    requests = new QButtonGroup(this);
    // Ids in the order of ZimpRequest.
    QRadioButton* const order[] = {ui_->read,      ui_->checkSum,   ui_->configuration,
                                   ui_->status,    ui_->eraseFlash, ui_->zeroFlash,
                                   ui_->writeData, ui_->freeRequest};
    for (int id = 0; id < 8; ++id)
        requests->addButton(order[id], id);
    address = ui_->address;
    counter = ui_->counter;
    data = ui_->data;
    addressResponse = ui_->addressResponse;
    response = ui_->response;
    ok = ui_->ok;
    abortRequest = ui_->abortRequest;
    cancel = ui_->cancel;

    connect(requests, &QButtonGroup::idClicked, this, &RequestsDialog::Select);
    connect(ok, &QPushButton::clicked, this, &RequestsDialog::accept);
    connect(abortRequest, &QPushButton::clicked, this, &RequestsDialog::Abort);
    connect(cancel, &QPushButton::clicked, this, &RequestsDialog::reject);
}

RequestsDialog::~RequestsDialog() = default;

bool RequestsDialog::Open(SerialPort* port, Configuration* profile) {
    session_ = std::make_unique<RequestsSession>(port, profile);
    if (!session_->Open()) {
        session_.reset();
        return false;
    }
    address->setText(QString::fromStdString(session_->LastAddress()));
    data->setText(QString::fromStdString(session_->LastData()));
    counter->setText(QString::number(session_->LastCounter()));
    addressResponse->clear();
    response->clear();
    ok->setEnabled(true);
    requests->button(static_cast<int>(selected_))->setChecked(true);
    Select(static_cast<int>(selected_));
    counter->setEnabled(false);  // whatever the request, until one is chosen
    emit opened();
    show();
    raise();
    activateWindow();
    return true;
}

void RequestsDialog::Select(int id) {
    selected_ = static_cast<ZimpRequest>(id);
    counter->setEnabled(selected_ == ZimpRequest::Read);
    data->setEnabled(selected_ == ZimpRequest::WriteData);
}

void RequestsDialog::accept() {
    if (!session_ || session_->Running())
        return;
    ok->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    response->moveCursor(QTextCursor::End);
    const RequestOutcome outcome =
        session_->Run(selected_, address->text().toStdString(), data->text().toStdString(),
                      counter->text().toStdString(), *this);
    QApplication::restoreOverrideCursor();
    ok->setEnabled(true);
    if (outcome == RequestOutcome::Refused) {
        QLineEdit* field = nullptr;
        switch (session_->FailedField()) {
            case RequestsField::Counter:
                field = counter;
                break;
            case RequestsField::Address:
                field = address;
                break;
            case RequestsField::Data:
                field = data;
                break;
            case RequestsField::None:
                break;
        }
        if (field) {
            field->setFocus();
            field->selectAll();
        }
    }
}

void RequestsDialog::Abort() {
    if (session_)
        session_->Abort();
}

void RequestsDialog::reject() {
    Abort();
    if (IsBusy())
        return;
    if (session_) {
        session_->Close();
        session_.reset();
    }
    hide();
    emit closed();
}

void RequestsDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}

void RequestsDialog::SetStatusText(const std::string& text) {
    emit statusText(QString::fromStdString(text));
}

void RequestsDialog::SetAddressField(const std::string& text) {
    address->setText(QString::fromStdString(text));
}

void RequestsDialog::SetAddressResponse(const std::string& text) {
    addressResponse->setText(QString::fromStdString(text));
}

void RequestsDialog::AppendResponse(const std::string& text) {
    QString t = QString::fromStdString(text);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    response->moveCursor(QTextCursor::End);
    response->insertPlainText(t);
    response->ensureCursorVisible();
}

}  // namespace app
