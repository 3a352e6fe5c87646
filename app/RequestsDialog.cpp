#include "app/RequestsDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTextCursor>
#include <QVBoxLayout>

namespace app {

namespace {
constexpr const char* kRequestNames[] = {"Read",       "Check Sum",   "Configuration",
                                         "Status",     "Erase Flash", "Zero Flash",
                                         "Write Data", "Free Request"};
}

RequestsDialog::RequestsDialog(QWidget* parent)
    : QDialog(parent),
      requests(new QButtonGroup(this)),
      address(new QLineEdit(this)),
      counter(new QLineEdit(this)),
      data(new QLineEdit(this)),
      addressResponse(new QLineEdit(this)),
      response(new QPlainTextEdit(this)),
      ok(new QPushButton(QStringLiteral("OK"), this)),
      abortRequest(new QPushButton(QStringLiteral("Abort Req"), this)),
      cancel(new QPushButton(QStringLiteral("Cancel"), this)) {
    setWindowTitle(QStringLiteral("ZIMP Requests"));
    auto* group = new QGroupBox(QStringLiteral("Requests"), this);
    auto* groupLayout = new QVBoxLayout(group);
    for (int id = 0; id < 8; ++id) {
        auto* button = new QRadioButton(QString::fromLatin1(kRequestNames[id]), group);
        requests->addButton(button, id);
        groupLayout->addWidget(button);
    }
    addressResponse->setReadOnly(true);
    response->setReadOnly(true);
    auto* fields = new QGridLayout;
    int row = 0;
    for (auto [label, edit] :
         {std::pair{"Address", address}, std::pair{"Counter", counter}, std::pair{"Data", data},
          std::pair{"Address Response", addressResponse}}) {
        auto* l = new QLabel(QString::fromLatin1(label), this);
        l->setBuddy(edit);
        fields->addWidget(l, row, 0);
        fields->addWidget(edit, row++, 1);
    }
    fields->addWidget(new QLabel(QStringLiteral("Data Response"), this), row++, 0, 1, 2);
    fields->addWidget(response, row++, 0, 1, 2);
    auto* buttons = new QVBoxLayout;
    ok->setDefault(true);
    for (QPushButton* b : {ok, abortRequest, cancel})
        buttons->addWidget(b);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(fields, 1);
    layout->addLayout(buttons);

    connect(requests, &QButtonGroup::idClicked, this, &RequestsDialog::Select);
    connect(ok, &QPushButton::clicked, this, &RequestsDialog::accept);
    connect(abortRequest, &QPushButton::clicked, this, &RequestsDialog::Abort);
    connect(cancel, &QPushButton::clicked, this, &RequestsDialog::reject);
    resize(560, 320);
}

RequestsDialog::~RequestsDialog() = default;

bool RequestsDialog::Open(SerialPort* port, profilestream* profile) {
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
    const bool ran =
        session_->Run(selected_, address->text().toStdString(), data->text().toStdString(),
                      counter->text().toStdString(), *this);
    QApplication::restoreOverrideCursor();
    ok->setEnabled(true);
    if (!ran) {
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
