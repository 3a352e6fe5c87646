#include "app/LoadParamDialog.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>
#include <climits>

#include "app/FileChoosers.h"
#include "memops/FieldChecks.h"

using memops::CheckHexField;
using memops::CheckIntegerField;
using memops::IntegerKind;
using memops::LoadParameters;
using memops::ValidateLoadParameters;

namespace app {

LoadParamDialog::LoadParamDialog(const LoadParameters& params, QWidget* parent)
    : QDialog(parent), params_(params) {
    setWindowTitle(QStringLiteral("Loading Parameters:") + QString::fromStdString(params.title));

    auto* sum = new QGroupBox(QStringLiteral("&Check Sum"), this);
    auto* sumLayout = new QGridLayout(sum);
    auto* group = new QButtonGroup(this);
    const char* names[] = {"NONE", "Last Address", "Address", "Block"};
    for (int i = 0; i < 4; ++i) {
        modes[i] = new QRadioButton(QString::fromLatin1(names[i]), sum);
        group->addButton(modes[i], i);
        sumLayout->addWidget(modes[i], i, 0);
    }
    address = new QLineEdit(QString::fromStdString(params.addressText), sum);
    block = new QLineEdit(QString::number(params.blockIndex), sum);
    // Both stay disabled until a radio button is clicked, whatever the initial mode.
    address->setEnabled(false);
    block->setEnabled(false);
    sumLayout->addWidget(address, 2, 1);
    sumLayout->addWidget(new QLabel(QStringLiteral("HEX"), sum), 2, 2);
    sumLayout->addWidget(block, 3, 1);
    const int mode = params.checksumMode >= 0 && params.checksumMode < 4 ? params.checksumMode : 0;
    modes[mode]->setChecked(true);
    connect(group, &QButtonGroup::idClicked, this, &LoadParamDialog::SelectMode);

    auto* fields = new QGridLayout;
    auto addRow = [&](int row, const QString& label, QWidget* edit, const QString& unit) {
        auto* l = new QLabel(label, this);
        l->setBuddy(edit);
        fields->addWidget(l, row, 0);
        fields->addWidget(edit, row, 1);
        if (!unit.isEmpty())
            fields->addWidget(new QLabel(unit, this), row, 2);
    };
    alignment = new QLineEdit(QString::number(params.alignment), this);
    bias = new QLineEdit(QString::fromStdString(params.biasText), this);
    fill = new QLineEdit(QString::fromStdString(params.fillText), this);
    addRow(0, QStringLiteral("&Alignment"), alignment, QStringLiteral("Bytes"));
    addRow(1, QStringLiteral("B&ias"), bias, QStringLiteral("HEX"));
    addRow(2, QStringLiteral("&Filling Number"), fill, QStringLiteral("HEX"));
    compress = new QCheckBox(QStringLiteral("Compress"), this);
    compress->setChecked(params.compress);
    fields->addWidget(compress, 3, 1);

    auto* fileRow = new QHBoxLayout;
    file = new QLineEdit(QString::fromStdString(params.fileName), this);
    auto* fileLabel = new QLabel(QStringLiteral("&Load File"), this);
    fileLabel->setBuddy(file);
    browse = new QPushButton(QStringLiteral("<< &Browse"), this);
    browse->setAutoDefault(false);
    fileRow->addWidget(fileLabel);
    fileRow->addWidget(file, 1);
    fileRow->addWidget(browse);
    connect(browse, &QPushButton::clicked, this, &LoadParamDialog::Browse);

    ok = new QPushButton(QStringLiteral("OK"), this);
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    help = new QPushButton(QStringLiteral("Help"), this);
    ok->setDefault(true);
    cancel->setAutoDefault(false);
    help->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &LoadParamDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &LoadParamDialog::reject);
    connect(help, &QPushButton::clicked, this, &LoadParamDialog::ShowHelp);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(help);
    buttons->addStretch();

    auto* left = new QVBoxLayout;
    left->addWidget(sum);
    left->addLayout(fields);
    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(buttons);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(fileRow);
}

void LoadParamDialog::SelectMode(int mode) {
    address->setEnabled(mode == LoadParameters::kAddress);
    block->setEnabled(mode == LoadParameters::kBlock);
}

void LoadParamDialog::Browse() {
    const QString chosen = ChooseSRecordToOpen(this, file->text());
    if (!chosen.isEmpty())
        file->setText(chosen);
}

void LoadParamDialog::ShowHelp() {
    QMessageBox::information(
        this, windowTitle(),
        QStringLiteral(
            "Check Sum: NONE adds no table; Last Address appends the checksum table right "
            "after the highest block; Address places it at the hexadecimal address typed; "
            "Block places it right after block number N of the sorted block list.\n"
            "Alignment: chunks start on multiples of this many bytes; smaller gaps inside a "
            "chunk are filled and a run's last unit is padded.\n"
            "Bias: a hexadecimal offset added to every address sent (kept for later loads).\n"
            "Filling Number: the hexadecimal byte that fills gaps and padding.\n"
            "Compress: send each block LZRW3-A compressed (kept for later loads).\n"
            "Load File: the S-Record file to load."));
}

bool LoadParamDialog::Fail(QWidget* field) {
    field->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        edit->selectAll();
    return false;
}

void LoadParamDialog::accept() {
    // The order of the data exchange: the first fault names its field.
    LoadParameters p = params_;
    long long value = p.blockIndex;
    if (!CheckIntegerField(block->text().toStdString(), IntegerKind::Signed, 0, 100000, value))
        return (void)Fail(block);
    p.blockIndex = static_cast<long>(value);
    p.addressText = address->text().toStdString();
    if (!CheckHexField(p.addressText))
        return (void)Fail(address);
    value = p.alignment;
    if (!CheckIntegerField(alignment->text().toStdString(), IntegerKind::Signed, INT_MIN, INT_MAX,
                           value))
        return (void)Fail(alignment);
    p.alignment = static_cast<long>(value);
    p.biasText = bias->text().toStdString();
    if (!CheckHexField(p.biasText))
        return (void)Fail(bias);
    p.fileName = file->text().toStdString();
    p.fillText = fill->text().toStdString();
    p.compress = compress->isChecked();
    p.checksumMode = 0;
    for (int i = 0; i < 4; ++i)
        if (modes[i]->isChecked())
            p.checksumMode = i;
    // What is left (file name length, fill) with the core's texts.
    if (!ValidateLoadParameters(p))
        return (void)Fail(p.fileName.size() > memops::kMaxLoadFileName ? static_cast<QWidget*>(file)
                                                                       : fill);
    params_ = p;
    QDialog::accept();
}

}  // namespace app
