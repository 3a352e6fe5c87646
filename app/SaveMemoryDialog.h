#pragma once
// "Save Memory" (modeless): the file for a save and the address being read while it runs.
// SaveCommand does the work on this thread; its reply waits keep the event loop running, so
// Cancel reaches the pending read at once.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "memops/OperationHistory.h"
#include "memops/SaveCommand.h"

namespace app {

class SaveMemoryDialog : public QDialog, public memops::SaveFrontEnd {
    Q_OBJECT
  public:
    explicit SaveMemoryDialog(QWidget* parent = nullptr);
    ~SaveMemoryDialog() override;
    // Prepares the save of memory type 0..4 and shows the dialog; false (with the command's
    // message) when it cannot.
    bool Open(serial::SerialPort* port, streams::Configuration* profile, int memoryType);
    bool IsSaving() const { return command_ && command_->Saving(); }
    // How the last save ended.
    memops::SaveOutcome LastOutcome() const { return last_; }

    void ShowAddress(const std::string& text) override;
    void BytesSaved(uint32_t done, uint32_t total) override;

    QLineEdit* file;
    QPushButton* browse;
    QLineEdit* address;
    QPushButton* ok;
    QPushButton* cancel;

  signals:
    void opened();
    void closed();
    void started();                                     // OK: the save begins
    void ended(const memops::OperationRecord& record);  // and how it went

  public slots:
    void accept() override;  // OK: the save
    void reject() override;  // Cancel: aborts a running save, or closes

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Browse();
    void SetIdle(bool idle);
    void Finish();

    std::unique_ptr<memops::SaveCommand> command_;
    memops::SaveOutcome last_ = memops::SaveOutcome::NotOpened;
    memops::Memory memory_ = memops::Memory::Ram;
    uint32_t saved_ = 0;
};

}  // namespace app
