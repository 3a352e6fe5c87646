#include "app/TqvBootLoadDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/FileChoosers.h"
#include "app/QtEventPump.h"
#include "memops/FieldChecks.h"

using memops::CheckIntegerField;
using memops::IntegerKind;
using memops::ReadTqvSettings;
using memops::TqvBootLoad;
using memops::TqvSettings;
using memops::WriteTqvSettings;

using serial::SerialPort;

using streams::Configuration;

namespace app {

TqvBootLoadDialog::TqvBootLoadDialog(SerialPort* port, const TqvSettings& settings, QWidget* parent)
    : QDialog(parent), port_(port), settings_(settings) {
    setWindowTitle(QStringLiteral("TQV_BOOTLOAD"));
    headerRate = new QLineEdit(this);
    file = new QLineEdit(this);
    browseFile = new QPushButton(QStringLiteral("Browse"), this);
    patch = new QLineEdit(this);
    browsePatch = new QPushButton(QStringLiteral("Browse"), this);
    disablePatch = new QCheckBox(QStringLiteral("Disable Patch"), this);
    factor = new QLineEdit(this);
    dataRate = new QLineEdit(this);
    auto* processor = new QGroupBox(QStringLiteral("Processor Type"), this);
    ambrel = new QRadioButton(QStringLiteral("Ambrel"), processor);
    vintrel = new QRadioButton(QStringLiteral("Vintrel"), processor);
    auto* pl = new QHBoxLayout(processor);
    pl->addWidget(ambrel);
    pl->addWidget(vintrel);
    ok = new QPushButton(QStringLiteral("OK"), this);
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setDefault(true);
    for (QPushButton* b : {browseFile, browsePatch, cancel})
        b->setAutoDefault(false);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("H Baud Rate"), this), 0, 0);
    grid->addWidget(headerRate, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("File Name"), this), 1, 0);
    grid->addWidget(file, 1, 1);
    grid->addWidget(browseFile, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral(" Patch Name "), this), 2, 0);
    grid->addWidget(patch, 2, 1);
    grid->addWidget(browsePatch, 2, 2);
    grid->addWidget(disablePatch, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("TQV Factor"), this), 4, 0);
    grid->addWidget(factor, 4, 1);
    grid->addWidget(new QLabel(QStringLiteral("D Baud Rate"), this), 5, 0);
    grid->addWidget(dataRate, 5, 1);
    grid->addWidget(processor, 6, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* all = new QVBoxLayout(this);
    all->addLayout(grid);
    all->addLayout(buttons);
    setMinimumWidth(440);

    connect(ok, &QPushButton::clicked, this, &TqvBootLoadDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &TqvBootLoadDialog::reject);
    connect(disablePatch, &QCheckBox::clicked, this, &TqvBootLoadDialog::UpdatePatch);
    connect(browseFile, &QPushButton::clicked, this, [this] {
        if (!TakeValues())
            return;
        const QString chosen = ChooseSRecordToOpen(this, QString::fromStdString(settings_.file));
        if (!chosen.isEmpty())
            settings_.file = chosen.toStdString();
        Fill();
    });
    connect(browsePatch, &QPushButton::clicked, this, [this] {
        // Unlike the program's Browse, values typed but not yet taken are replaced.
        const QString chosen =
            ChooseSRecordToOpen(this, QString::fromStdString(settings_.patchFile));
        if (!chosen.isEmpty())
            settings_.patchFile = chosen.toStdString();
        Fill();
    });
    Fill();
}

void TqvBootLoadDialog::Fill() {
    headerRate->setText(QString::number(settings_.headerRate));
    file->setText(QString::fromStdString(settings_.file));
    patch->setText(QString::fromStdString(settings_.patchFile));
    disablePatch->setChecked(settings_.disablePatch != 0);
    factor->setText(QString::number(settings_.factor));
    dataRate->setText(QString::number(settings_.dataRate));
    (settings_.processorType == 1 ? vintrel : ambrel)->setChecked(true);
    UpdatePatch();
}

void TqvBootLoadDialog::UpdatePatch() {
    const bool on = !disablePatch->isChecked();
    patch->setEnabled(on);
    browsePatch->setEnabled(on);
}

bool TqvBootLoadDialog::TakeValues() {
    TqvSettings s = settings_;
    struct Field {
        QLineEdit* edit;
        IntegerKind kind;
        long long min, max;
    };
    const Field fields[] = {{headerRate, IntegerKind::Signed, 300, 1000000},
                            {factor, IntegerKind::Unsigned, 0, 4096},
                            {dataRate, IntegerKind::Signed, 300, 460800}};
    long long values[3] = {s.headerRate, static_cast<long long>(s.factor), s.dataRate};
    for (int i = 0; i < 3; ++i) {
        if (!CheckIntegerField(fields[i].edit->text().toStdString(), fields[i].kind, fields[i].min,
                               fields[i].max, values[i])) {
            fields[i].edit->setFocus();
            fields[i].edit->selectAll();
            return false;
        }
    }
    s.headerRate = static_cast<long>(values[0]);
    s.factor = static_cast<unsigned long>(values[1]);
    s.dataRate = static_cast<long>(values[2]);
    s.file = file->text().toStdString();
    s.patchFile = patch->text().toStdString();
    s.disablePatch = disablePatch->isChecked() ? 1 : 0;
    s.processorType = vintrel->isChecked() ? 1 : 0;
    settings_ = s;
    return true;
}

void TqvBootLoadDialog::accept() {
    if (running_ || !TakeValues())
        return;
    running_ = true;
    const QList<QWidget*> controls = findChildren<QWidget*>();
    QList<QWidget*> disabled;
    for (QWidget* w : controls)
        if (w->isEnabled() && (qobject_cast<QLineEdit*>(w) || qobject_cast<QPushButton*>(w) ||
                               qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w))) {
            w->setEnabled(false);
            disabled.append(w);
        }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The direct reads and writes block; the window keeps painting meanwhile. Their messages
    // are boxes shown on this thread while the writer waits.
    const TqvSettings s = settings_;
    emit started();
    const memops::OperationTimer timer(memops::Operation::TqvBootLoad, "", s.file);
    memops::BootOutcome outcome = memops::BootOutcome::Failed;
    uint32_t sent = 0;
    RunKeepingEventsLive([&] {
        TqvBootLoad load(port_);
        outcome = load.Run(s);
        sent = load.BlocksSent();
    });
    emit ended(timer.Finish(memops::ResultOf(outcome), sent));
    QApplication::restoreOverrideCursor();
    for (QWidget* w : disabled)
        w->setEnabled(true);
    running_ = false;
    QDialog::accept();  // after any outcome, as after success
}

void TqvBootLoadDialog::reject() {
    if (!running_)
        QDialog::reject();
}

void TqvBootLoadDialog::closeEvent(QCloseEvent* event) {
    if (running_)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

bool TqvBootLoadDialog::Run(SerialPort* port, Configuration* profile, QWidget* parent,
                            const std::function<void(TqvBootLoadDialog&)>& prepare) {
    if (port == nullptr || profile == nullptr)
        return false;
    TqvSettings settings;
    profile->clear();
    ReadTqvSettings(*profile, settings);
    TqvBootLoadDialog dialog(port, settings, parent);
    if (prepare)
        prepare(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    WriteTqvSettings(*profile, dialog.Settings());
    return true;
}

}  // namespace app
