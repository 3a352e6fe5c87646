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

QString ChooseSRecordToSave(QWidget* parent, const QString& current) {
    QFileDialog dialog(parent, QStringLiteral("Save As"), current,
                       QString::fromLatin1(kSRecordSaveFilter));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("hex"));
    if (!current.isEmpty())
        dialog.selectFile(current);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

}  // namespace app
