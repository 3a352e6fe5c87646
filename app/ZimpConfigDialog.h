#pragma once
// "ZIMP Configuration": block size and echo. The values stay with the dialog between
// openings; the command reads them from the configuration before and writes them after OK.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <memory>

#include "memops/ProtocolSettings.h"

namespace Ui {
class ZimpConfigDialog;
}

namespace app {

class ZimpConfigDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ZimpConfigDialog(QWidget* parent = nullptr);
    ~ZimpConfigDialog() override;
    // Reads the configuration, runs the dialog, writes on OK. True when OK was pressed.
    bool Run(streams::Configuration& profile);
    const memops::ProtocolSettings& Values() const { return values_; }

    QLineEdit* blockSize;
    QCheckBox* echo;

  public slots:
    void accept() override;

  private:
    std::unique_ptr<Ui::ZimpConfigDialog> ui_;
    memops::ProtocolSettings values_;
};

}  // namespace app
