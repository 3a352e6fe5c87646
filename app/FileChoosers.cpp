#include "app/FileChoosers.h"

#include <QFileDialog>

namespace app {

QString ChooseSRecordToOpen(QWidget* parent, const QString& current) {
    QFileDialog dialog(parent, QStringLiteral("Open"), current,
                       QString::fromLatin1(kSRecordOpenFilter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, true);
    if (!current.isEmpty())
        dialog.selectFile(current);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

namespace {
QString ChooseToSave(QWidget* parent, const QString& current, const QString& caption,
                     const QString& filter, const QString& suffix) {
    QFileDialog dialog(parent, caption, current, filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    if (!current.isEmpty())
        dialog.selectFile(current);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}
}  // namespace

QString ChooseSRecordToSave(QWidget* parent, const QString& current) {
    return ChooseToSave(parent, current, QStringLiteral("Save As"),
                        QString::fromLatin1(kSRecordSaveFilter), QStringLiteral("hex"));
}

QString ChooseTraceToSave(QWidget* parent, const QString& current) {
    return ChooseToSave(parent, current, QStringLiteral("Trace"),
                        QStringLiteral("Wire traces (*.trace *.txt);;All files (*)"),
                        QStringLiteral("trace"));
}

QString ChooseCsvToSave(QWidget* parent, const QString& current) {
    return ChooseToSave(parent, current, QStringLiteral("Save History"),
                        QStringLiteral("CSV files (*.csv);;All files (*)"), QStringLiteral("csv"));
}

}  // namespace app
