#include "app/ProgressDialog.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/QtEventPump.h"
#include "platform/Event.h"

using memops::ProgressPermille;

namespace app {

ProgressDialog::ProgressDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Loading"));
    setModal(false);
    fileName = new QLabel(this);
    header = new QLabel(this);
    address = new QLabel(this);
    for (QLabel* l : {fileName, header, address})
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("File Name: "), fileName);
    form->addRow(QStringLiteral("Header: "), header);
    form->addRow(QStringLiteral("Data Address: "), address);
    bar = new QProgressBar(this);
    bar->setRange(0, 1000);
    bar->setTextVisible(false);
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(cancel, &QPushButton::clicked, this, &ProgressDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* all = new QVBoxLayout(this);
    all->addLayout(form);
    all->addWidget(bar);
    all->addLayout(buttons);
    setMinimumWidth(420);
}

void ProgressDialog::Show(const std::string& title, const std::string& file,
                          const std::string& head, uint32_t total) {
    ++generation_;
    cancelled_ = false;
    minimum_ = 0;
    maximum_ = total;
    setWindowTitle(QString::fromStdString(title));
    fileName->setText(QString::fromStdString(file));
    header->setText(QString::fromStdString(head));
    address->clear();
    bar->setRange(0, 1000);
    bar->setValue(0);
    cancel->setEnabled(true);
    if (!open_) {
        open_ = true;
        emit opened();
    }
    show();
    raise();
    activateWindow();
}

void ProgressDialog::Progress(uint32_t bytesDone, uint32_t addr) {
    // Any thread: the widgets change on the window's own.
    QMetaObject::invokeMethod(
        this, [this, bytesDone, addr] { ShowProgress(bytesDone, addr); }, Qt::QueuedConnection);
}

void ProgressDialog::ShowProgress(uint32_t bytesDone, uint32_t addr) {
    address->setText(QString::number(addr, 16).toUpper());
    const uint32_t done = bytesDone > minimum_ ? bytesDone - minimum_ : 0;
    bar->setValue(static_cast<int>(ProgressPermille(done, maximum_ - minimum_)));
}

void ProgressDialog::Close() {
    const unsigned generation = generation_.load();
    QMetaObject::invokeMethod(
        this, [this, generation] { Finish(generation); }, Qt::QueuedConnection);
}

void ProgressDialog::Finish(unsigned generation) {
    if (generation != generation_.load() || !open_)
        return;
    open_ = false;
    hide();
    emit closed();
}

void ProgressDialog::RunUntil(platform::Event& finished) {
    QtMessagePump pump;
    while (!pump.PumpUntil(finished, 1000)) {
    }
    // The transfer has ended: the window goes now, not when the worker's close arrives.
    Finish(generation_.load());
}

void ProgressDialog::reject() {
    if (!open_) {
        QDialog::reject();
        return;
    }
    cancelled_ = true;
    cancel->setEnabled(false);
    RequestCancel();  // the loader's stop, abort and purge: a pending wait ends now
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    // The window's close button is Cancel; the window itself goes when the transfer ends.
    event->ignore();
    if (open_)
        reject();
}

}  // namespace app
