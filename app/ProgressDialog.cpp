#include "app/ProgressDialog.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

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

void ProgressDialog::Started(const std::string& title, const std::string& file,
                             const std::string& head, uint32_t total) {
    QMetaObject::invokeMethod(
        this, [this, title, file, head, total] { Show(title, file, head, total); },
        Qt::QueuedConnection);
}

void ProgressDialog::Show(const std::string& title, const std::string& file,
                          const std::string& head, uint32_t total) {
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

void ProgressDialog::Finished() {
    // Queued behind the load's last progress, so that the bar is full before the window goes.
    QMetaObject::invokeMethod(
        this, [this] { Finish(); }, Qt::QueuedConnection);
}

void ProgressDialog::Finish() {
    if (!open_)
        return;
    open_ = false;
    hide();
    emit closed();
}

void ProgressDialog::reject() {
    if (!open_) {
        QDialog::reject();
        return;
    }
    cancelled_ = true;
    cancel->setEnabled(false);
    emit cancelRequested();  // the load's stop, abort and purge: a pending wait ends now
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    // The window's close button is Cancel; the window itself goes when the transfer ends.
    event->ignore();
    if (open_)
        reject();
}

}  // namespace app
