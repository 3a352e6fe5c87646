#pragma once
// "Write Port# and baudrate": another device name, nominal rate or rate factor for this run.

#include <QDialog>
#include <QLineEdit>
#include <memory>

#include "memops/PortReopen.h"

namespace Ui {
class PortBaudDialog;
}

namespace app {

class PortBaudDialog : public QDialog {
    Q_OBJECT
  public:
    explicit PortBaudDialog(const memops::PortChoice& current, QWidget* parent = nullptr);
    ~PortBaudDialog() override;
    const memops::PortChoice& Chosen() const { return chosen_; }

    QLineEdit* portName;
    QLineEdit* rate;
    QLineEdit* factor;

  public slots:
    void accept() override;

  private:
    std::unique_ptr<Ui::PortBaudDialog> ui_;
    memops::PortChoice chosen_;
};

}  // namespace app
