#pragma once
// "Set Port": the line settings of the port (nominal rate, data bits, parity, stop bits, flow
// control), edited for the serial port through PortSettingsEditor.

#include <QComboBox>
#include <QDialog>

#include "serial/PortSettingsEditor.h"

namespace app {

class SetPortDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SetPortDialog(QWidget* parent = nullptr);
    void Load(const std::string& portName, const platform::SerialSettings& settings);
    // Into settings; the fields not shown stay as they are.
    void Store(platform::SerialSettings& settings) const;

    QComboBox* rate;
    QComboBox* dataBits;
    QComboBox* parity;
    QComboBox* stopBits;
    QComboBox* flow;

  public slots:
    void accept() override;

  private:
    uint32_t rateValue_ = 0;
};

// The adapter the serial port calls.
class QtPortSettingsEditor : public serial::PortSettingsEditor {
  public:
    explicit QtPortSettingsEditor(QWidget* owner) : owner_(owner) {}
    bool Edit(const std::string& portName, uint32_t providerSubtype,
              platform::SerialSettings& settings) override;

  private:
    QWidget* owner_;
};

}  // namespace app
