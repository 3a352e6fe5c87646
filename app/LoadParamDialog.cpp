#include "app/LoadParamDialog.h"

#include <QButtonGroup>
#include <QComboBox>
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
using memops::CheckLoadFileName;
using memops::ChecksumTable;
using memops::IntegerKind;
using memops::LoadRequest;
using memops::ParseHexText;

namespace app {

namespace {
// A number as the dialog's hex fields show it ("%lX").
QString Hex(uint32_t value) {
    return QString::number(value, 16).toUpper();
}
}  // namespace

LoadParamDialog::LoadParamDialog(const LoadRequest& defaults, const std::string& title,
                                 const std::vector<std::string>& recentFiles, QWidget* parent)
    : QDialog(parent), request_(defaults) {
    setWindowTitle(QStringLiteral("Loading Parameters:") + QString::fromStdString(title));

    auto* sum = new QGroupBox(QStringLiteral("&Check Sum"), this);
    auto* sumLayout = new QGridLayout(sum);
    auto* group = new QButtonGroup(this);
    const char* names[] = {"NONE", "Last Address", "Address", "Block"};
    for (int i = 0; i < 4; ++i) {
        modes[i] = new QRadioButton(QString::fromLatin1(names[i]), sum);
        group->addButton(modes[i], i);
        sumLayout->addWidget(modes[i], i, 0);
    }
    address = new QLineEdit(Hex(defaults.checksumAddress), sum);
    block = new QLineEdit(QString::number(defaults.checksumBlock), sum);
    // Both stay disabled until a radio button is clicked, whatever the initial mode.
    address->setEnabled(false);
    block->setEnabled(false);
    sumLayout->addWidget(address, 2, 1);
    sumLayout->addWidget(new QLabel(QStringLiteral("HEX"), sum), 2, 2);
    sumLayout->addWidget(block, 3, 1);
    modes[static_cast<int>(defaults.checksum)]->setChecked(true);
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
    alignment = new QLineEdit(QString::number(defaults.alignment), this);
    bias = new QLineEdit(Hex(defaults.bias), this);
    fill = new QLineEdit(QStringLiteral("%1").arg(defaults.fill, 2, 16, QLatin1Char('0')).toUpper(),
                         this);
    addRow(0, QStringLiteral("&Alignment"), alignment, QStringLiteral("Bytes"));
    addRow(1, QStringLiteral("B&ias"), bias, QStringLiteral("HEX"));
    addRow(2, QStringLiteral("&Filling Number"), fill, QStringLiteral("HEX"));
    compress = new QCheckBox(QStringLiteral("Compress"), this);
    compress->setChecked(defaults.compress);
    fields->addWidget(compress, 3, 1);

    auto* fileRow = new QHBoxLayout;
    // The field offers the last images loaded; what is typed stays the field's text.
    recent = new QComboBox(this);
    recent->setEditable(true);
    recent->setInsertPolicy(QComboBox::NoInsert);
    recent->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    recent->setMinimumContentsLength(32);
    for (const std::string& f : recentFiles)
        recent->addItem(QString::fromStdString(f));
    file = recent->lineEdit();
    file->setText(QString::fromStdString(defaults.file));
    auto* fileLabel = new QLabel(QStringLiteral("&Load File"), this);
    fileLabel->setBuddy(recent);
    browse = new QPushButton(QStringLiteral("<< &Browse"), this);
    browse->setAutoDefault(false);
    fileRow->addWidget(fileLabel);
    fileRow->addWidget(recent, 1);
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
    address->setEnabled(mode == static_cast<int>(ChecksumTable::Address));
    block->setEnabled(mode == static_cast<int>(ChecksumTable::AfterBlock));
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
    LoadRequest r = request_;
    long long value = r.checksumBlock;
    if (!CheckIntegerField(block->text().toStdString(), IntegerKind::Signed, 0, 100000, value))
        return (void)Fail(block);
    r.checksumBlock = static_cast<uint32_t>(value);
    const std::string addressText = address->text().toStdString();
    if (!CheckHexField(addressText))
        return (void)Fail(address);
    ParseHexText(addressText, r.checksumAddress);
    value = r.alignment;
    if (!CheckIntegerField(alignment->text().toStdString(), IntegerKind::Signed, INT_MIN, INT_MAX,
                           value))
        return (void)Fail(alignment);
    r.alignment = value < 1 ? 1u : static_cast<uint32_t>(value);  // below 1 counts as 1
    const std::string biasText = bias->text().toStdString();
    if (!CheckHexField(biasText))
        return (void)Fail(bias);
    ParseHexText(biasText, r.bias);
    r.file = file->text().toStdString();
    r.compress = compress->isChecked();
    r.checksum = ChecksumTable::None;
    for (int i = 0; i < 4; ++i)
        if (modes[i]->isChecked())
            r.checksum = static_cast<ChecksumTable>(i);
    // What is left (file name length, fill) with the core's texts.
    if (!CheckLoadFileName(r.file))
        return (void)Fail(file);
    const std::string fillText = fill->text().toStdString();
    if (!CheckHexField(fillText))
        return (void)Fail(fill);
    uint32_t fillValue = 0xFF;
    ParseHexText(fillText, fillValue);
    r.fill = static_cast<uint8_t>(fillValue);  // as the byte it is written as
    request_ = r;
    QDialog::accept();
}

}  // namespace app
