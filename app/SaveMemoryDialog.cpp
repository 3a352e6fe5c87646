#include "app/SaveMemoryDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>

#include "app/FileChoosers.h"

using memops::SaveCommand;
using memops::SaveOutcome;

using serial::SerialPort;

using streams::Configuration;

namespace app {

SaveMemoryDialog::SaveMemoryDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Save Memory"));
    setModal(false);
    file = new QLineEdit(this);
    browse = new QPushButton(QStringLiteral("<<&Browse"), this);
    address = new QLineEdit(this);
    address->setReadOnly(true);
    address->setEnabled(false);
    ok = new QPushButton(QStringLiteral("OK"), this);
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setDefault(true);
    browse->setAutoDefault(false);
    cancel->setAutoDefault(false);
    auto* grid = new QGridLayout(this);
    auto* fileLabel = new QLabel(QStringLiteral("File &Name"), this);
    fileLabel->setBuddy(file);
    grid->addWidget(fileLabel, 0, 0);
    grid->addWidget(file, 0, 1);
    grid->addWidget(browse, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Address"), this), 1, 0);
    grid->addWidget(address, 1, 1);
    grid->addWidget(ok, 2, 1, Qt::AlignRight);
    grid->addWidget(cancel, 2, 2);
    setMinimumWidth(440);
    connect(ok, &QPushButton::clicked, this, &SaveMemoryDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &SaveMemoryDialog::reject);
    connect(browse, &QPushButton::clicked, this, &SaveMemoryDialog::Browse);
}

SaveMemoryDialog::~SaveMemoryDialog() = default;

bool SaveMemoryDialog::Open(SerialPort* port, Configuration* profile, int memoryType) {
    command_ = std::make_unique<SaveCommand>(port, profile);
    memory_ = *memops::MemoryOfType(memoryType);
    if (!command_->Prepare(memory_)) {
        command_.reset();
        return false;
    }
    setWindowTitle(QString::fromStdString(command_->Title()));
    file->setText(QString::fromStdString(command_->FileName()));
    address->clear();
    SetIdle(true);
    emit opened();
    show();
    raise();
    activateWindow();
    return true;
}

void SaveMemoryDialog::SetIdle(bool idle) {
    ok->setEnabled(idle);
    browse->setEnabled(idle);
    file->setEnabled(idle);
    address->setEnabled(!idle);
}

void SaveMemoryDialog::ShowAddress(const std::string& text) {
    address->setText(QString::fromStdString(text));
}

void SaveMemoryDialog::BytesSaved(uint32_t done, uint32_t /*total*/) {
    saved_ = done;
}

void SaveMemoryDialog::Browse() {
    const QString chosen = ChooseSRecordToSave(this, file->text());
    if (!chosen.isEmpty())
        file->setText(chosen);
}

void SaveMemoryDialog::accept() {
    if (!command_ || command_->Saving())
        return;  // a second OK during the reply wait
    const std::string name = file->text().toStdString();
    SetIdle(false);
    address->clear();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    emit started();
    const memops::OperationTimer timer(memops::Operation::Save, memops::MemoryKindOf(memory_).name,
                                       name);
    saved_ = 0;
    last_ = command_->Save(name, this);
    QApplication::restoreOverrideCursor();
    emit ended(timer.Finish(memops::ResultOf(last_), saved_));
    if (last_ == SaveOutcome::NotOpened || last_ == SaveOutcome::Refused) {
        // Nothing was read or written: the user may choose another file or mend the ranges.
        SetIdle(true);
        file->setFocus();
        return;
    }
    Finish();
}

void SaveMemoryDialog::reject() {
    if (command_ && command_->Saving()) {
        command_->Cancel();  // the running save ends and closes the dialog
        return;
    }
    Finish();
}

void SaveMemoryDialog::Finish() {
    if (command_) {
        command_->Close();
        command_.reset();
    }
    if (isVisible()) {
        hide();
        emit closed();
    }
}

void SaveMemoryDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}

}  // namespace app
