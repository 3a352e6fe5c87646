#pragma once
// "LOADING" (modeless): the file, the image header, the address being sent and a bar while a
// load runs. The load's calls come on its own thread and reach the widgets through queued
// invocations. Cancel asks for the load's own cancel at once (cancelRequested); the window stays
// until the transfer has ended and then closes itself.

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <atomic>

#include "memops/ProgressView.h"

namespace app {

class ProgressDialog : public QDialog, public memops::ProgressView {
    Q_OBJECT
  public:
    explicit ProgressDialog(QWidget* parent = nullptr);

    // Any thread.
    void Started(const std::string& title, const std::string& fileName, const std::string& header,
                 uint32_t total) override;
    void Progress(uint32_t bytesDone, uint32_t address) override;
    void Finished() override;
    // On the window's thread: what Started shows, at once.
    void Show(const std::string& title, const std::string& fileName, const std::string& header,
              uint32_t total);
    // Cancel was pressed during the current load.
    bool IsCancelled() const { return cancelled_.load(); }

    QLabel* fileName;
    QLabel* header;
    QLabel* address;
    QProgressBar* bar;
    QPushButton* cancel;

  signals:
    void opened();  // the main window is disabled while the window exists
    void closed();
    void cancelRequested();  // Cancel: the owner runs the load's own cancel

  public slots:
    void reject() override;  // Cancel (and Escape)

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void ShowProgress(uint32_t bytesDone, uint32_t address);
    void Finish();

    std::atomic<bool> cancelled_{false};
    uint32_t minimum_ = 0;
    uint32_t maximum_ = 1000;
    bool open_ = false;
};

}  // namespace app
