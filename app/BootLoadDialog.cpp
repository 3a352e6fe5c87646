#include "app/BootLoadDialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>

#include "app/FileChoosers.h"
#include "memops/FieldChecks.h"

using memops::BootLoad;
using memops::BootLoadSettings;
using memops::CheckIntegerField;
using memops::IntegerKind;
using memops::ReadBootLoadSettings;
using memops::ValidateBootLoadSettings;

using serial::SerialPort;

using streams::Configuration;

namespace app {

BootLoadDialog::BootLoadDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Boot Load"));
    setModal(false);
    rate = new QLineEdit(this);
    file = new QLineEdit(this);
    browse = new QPushButton(QStringLiteral("Browse"), this);
    ok = new QPushButton(QStringLiteral("OK"), this);
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setDefault(true);
    browse->setAutoDefault(false);
    cancel->setAutoDefault(false);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Baud Rate"), this), 0, 0);
    grid->addWidget(rate, 0, 1);
    grid->addWidget(ok, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("File Name"), this), 1, 0);
    grid->addWidget(file, 1, 1);
    grid->addWidget(cancel, 1, 2);
    grid->addWidget(browse, 2, 2);
    setMinimumWidth(420);
    connect(ok, &QPushButton::clicked, this, &BootLoadDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &BootLoadDialog::reject);
    connect(browse, &QPushButton::clicked, this, &BootLoadDialog::Browse);
}

BootLoadDialog::~BootLoadDialog() = default;

void BootLoadDialog::Open(SerialPort* port, Configuration* profile) {
    port_ = port;
    load_ = std::make_unique<BootLoad>(port);
    // A missing "File" key leaves the name empty; a missing rate keeps the last one.
    settings_.fileName.clear();
    if (profile) {
        profile->clear();
        ReadBootLoadSettings(*profile, settings_);
    }
    rate->setText(QString::number(settings_.rate));
    file->setText(QString::fromStdString(settings_.fileName));
    SetIdle(true);
    emit opened();
    show();
    raise();
    activateWindow();
}

void BootLoadDialog::SetIdle(bool idle) {
    for (QWidget* w : {static_cast<QWidget*>(rate), static_cast<QWidget*>(file),
                       static_cast<QWidget*>(browse), static_cast<QWidget*>(ok)})
        w->setEnabled(idle);
    if (idle)
        unsetCursor();
    else
        setCursor(Qt::BusyCursor);
}

void BootLoadDialog::Browse() {
    const QString chosen = ChooseSRecordToOpen(this, QString::fromStdString(settings_.fileName));
    if (!chosen.isEmpty()) {
        settings_.fileName = chosen.toStdString();
        file->setText(chosen);
    }
}

void BootLoadDialog::accept() {
    if (running_ || !load_)
        return;
    long long value = settings_.rate;
    if (!CheckIntegerField(rate->text().toStdString(), IntegerKind::Signed, 50, 115200, value)) {
        rate->setFocus();
        rate->selectAll();
        return;
    }
    BootLoadSettings s = settings_;
    s.rate = static_cast<long>(value);
    s.fileName = file->text().toStdString();
    settings_ = s;  // the values persist even when the file name is refused
    if (!ValidateBootLoadSettings(s)) {
        file->setFocus();
        return;
    }
    running_ = true;
    emit statusText(QStringLiteral("Loading"));
    SetIdle(false);
    emit started();
    const memops::OperationTimer timer(memops::Operation::BootLoad, "", s.fileName);
    // Its messages are boxes; Cancel reaches it through the event loop.
    const memops::BootOutcome outcome = load_->Run(s);
    emit ended(timer.Finish(memops::ResultOf(outcome), outcome == memops::BootOutcome::Loaded
                                                           ? load_->ProgramLength()
                                                           : load_->EchoCount()));
    SetIdle(true);
    running_ = false;
    emit statusText(QStringLiteral("Ready"));
    Finish();
}

void BootLoadDialog::reject() {
    if (running_) {
        load_->Cancel();  // "Loading was aborted by User"; the transfer then closes the dialog
        return;
    }
    Finish();
}

void BootLoadDialog::Finish() {
    if (isVisible()) {
        hide();
        emit closed();
    }
}

void BootLoadDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}

}  // namespace app
