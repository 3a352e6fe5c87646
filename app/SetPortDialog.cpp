#include "app/SetPortDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "memops/FieldChecks.h"

using memops::CheckIntegerField;
using memops::IntegerKind;

namespace app {

namespace {
enum Flow { kXonXoff = 0, kHardware = 1, kNoFlow = 2 };
}

SetPortDialog::SetPortDialog(QWidget* parent)
    : QDialog(parent),
      rate(new QComboBox(this)),
      dataBits(new QComboBox(this)),
      parity(new QComboBox(this)),
      stopBits(new QComboBox(this)),
      flow(new QComboBox(this)) {
    setWindowTitle(QStringLiteral("Set Port"));
    rate->setEditable(true);
    for (const char* r : {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                          "38400", "57600", "115200", "230400", "460800", "921600"})
        rate->addItem(QString::fromLatin1(r));
    for (int bits = 5; bits <= 8; ++bits)
        dataBits->addItem(QString::number(bits), bits);
    // In the order of the settings record's values.
    parity->addItems({QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even"),
                      QStringLiteral("Mark"), QStringLiteral("Space")});
    stopBits->addItems({QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")});
    flow->addItems(
        {QStringLiteral("Xon / Xoff"), QStringLiteral("Hardware"), QStringLiteral("None")});

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Bits per second:"), rate);
    form->addRow(QStringLiteral("&Data bits:"), dataBits);
    form->addRow(QStringLiteral("&Parity:"), parity);
    form->addRow(QStringLiteral("&Stop bits:"), stopBits);
    form->addRow(QStringLiteral("&Flow control:"), flow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SetPortDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SetPortDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void SetPortDialog::Load(const std::string& portName, const platform::SerialSettings& s) {
    setWindowTitle(QStringLiteral("Set Port - %1").arg(QString::fromStdString(portName)));
    rate->setCurrentText(QString::number(s.baudRate));
    dataBits->setCurrentIndex(std::clamp<int>(s.dataBits, 5, 8) - 5);
    parity->setCurrentIndex(static_cast<int>(s.parity));
    stopBits->setCurrentIndex(static_cast<int>(s.stopBits));
    if (s.xonXoffOutput || s.xonXoffInput)
        flow->setCurrentIndex(kXonXoff);
    else if (s.ctsOutputFlow || s.rtsControl == platform::LineControl::Handshake)
        flow->setCurrentIndex(kHardware);
    else
        flow->setCurrentIndex(kNoFlow);
    rateValue_ = s.baudRate;
}

void SetPortDialog::accept() {
    long long v = 0;
    if (!CheckIntegerField(rate->currentText().toStdString(), IntegerKind::Unsigned, 1,
                           0xFFFFFFFFLL, v)) {
        rate->setFocus();
        rate->lineEdit()->selectAll();
        return;
    }
    rateValue_ = static_cast<uint32_t>(v);
    QDialog::accept();
}

void SetPortDialog::Store(platform::SerialSettings& s) const {
    s.baudRate = rateValue_;
    s.dataBits = static_cast<uint8_t>(dataBits->currentIndex() + 5);
    s.parity = static_cast<platform::Parity>(parity->currentIndex());
    s.parityCheck = s.parity != platform::Parity::None;
    s.stopBits = static_cast<platform::StopBits>(stopBits->currentIndex());
    const int f = flow->currentIndex();
    s.xonXoffOutput = s.xonXoffInput = f == kXonXoff;
    s.ctsOutputFlow = f == kHardware;
    s.dsrOutputFlow = f == kHardware;
    s.dtrControl =
        f == kHardware ? platform::LineControl::Handshake : platform::LineControl::Enable;
    s.rtsControl =
        f == kHardware ? platform::LineControl::Handshake : platform::LineControl::Enable;
}

bool QtPortSettingsEditor::Edit(const std::string& portName, uint32_t,
                                platform::SerialSettings& settings) {
    SetPortDialog dialog(owner_);
    dialog.Load(portName, settings);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.Store(settings);
    return true;
}

}  // namespace app
