#pragma once
// "Boot Load" (modeless): rate and program file of the plain boot load. The values persist from
// one opening to the next (the window lives as long as the main window). BootLoad does the
// transfer on this thread; its echo read keeps the event loop running, so Cancel aborts it.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "memops/BootLoad.h"
#include "memops/OperationHistory.h"

namespace app {

class BootLoadDialog : public QDialog {
    Q_OBJECT
  public:
    explicit BootLoadDialog(QWidget* parent = nullptr);
    ~BootLoadDialog() override;
    // Reads section "BootLoad" into the fields and shows the dialog.
    void Open(serial::SerialPort* port, streams::Configuration* profile);
    bool IsBusy() const { return load_ && load_->Busy(); }
    const memops::BootLoadSettings& Settings() const { return settings_; }

    QLineEdit* rate;
    QLineEdit* file;
    QPushButton* browse;
    QPushButton* ok;
    QPushButton* cancel;

  signals:
    void statusText(const QString& text);  // "Loading", then "Ready"
    void opened();
    void closed();
    void started();                                     // OK: the transfer begins
    void ended(const memops::OperationRecord& record);  // and how it went

  public slots:
    void accept() override;  // OK: checks, then the transfer; the dialog closes after it
    void reject() override;  // Cancel: aborts a running transfer, or closes

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Browse();
    void SetIdle(bool idle);
    void Finish();

    serial::SerialPort* port_ = nullptr;
    std::unique_ptr<memops::BootLoad> load_;
    memops::BootLoadSettings settings_;
    bool running_ = false;
};

}  // namespace app
