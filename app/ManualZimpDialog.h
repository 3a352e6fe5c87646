#pragma once
// "Manual ZIMP": raw hex requests and every byte the radio sends back. ManualZimp does the
// work; its event notifications arrive on the port's event worker and are moved here.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <memory>

#include "app/QtEventPump.h"
#include "memops/ManualZimp.h"

namespace Ui {
class ManualZimpDialog;
}

namespace app {

class ManualZimpDialog : public QDialog, public memops::ManualZimpView {
    Q_OBJECT
  public:
    explicit ManualZimpDialog(QWidget* parent = nullptr);
    ~ManualZimpDialog() override;
    // Runs the dialog modally on the port (none: "You have to set port" and nothing shown).
    int Run(serial::SerialPort* port);

    void AppendReply(const std::string& text) override;

    QLineEdit* command;
    QCheckBox* checkSum;
    QPlainTextEdit* reply;

  public slots:
    void accept() override;  // OK sends; the dialog stays
    void reject() override;  // Cancel ends the event wait and closes

  private:
    void OnPortEvent(uint32_t message, intptr_t result, intptr_t request);

    std::unique_ptr<Ui::ManualZimpDialog> ui_;
    QueuedMessageTarget target_;
    std::unique_ptr<memops::ManualZimp> manual_;
};

}  // namespace app
