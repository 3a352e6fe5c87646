#pragma once
// "LOADING" (modeless): the file, the image header, the address being sent and a bar while a
// load runs. Cancel marks the view cancelled and runs the loader's own cancel at once; the
// window stays until the transfer has ended and then closes itself.

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

    void Show(const std::string& title, const std::string& fileName, const std::string& header,
              uint32_t total) override;
    void Progress(uint32_t bytesDone, uint32_t address) override;
    bool IsCancelled() const override { return cancelled_.load(); }
    void Close() override;
    void RunUntil(platform::Event& finished) override;

    QLabel* fileName;
    QLabel* header;
    QLabel* address;
    QProgressBar* bar;
    QPushButton* cancel;

  signals:
    void opened();  // the main window is disabled while the window exists
    void closed();

  public slots:
    void reject() override;  // Cancel (and Escape)

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void ShowProgress(uint32_t bytesDone, uint32_t address);
    void Finish(unsigned generation);

    std::atomic<bool> cancelled_{false};
    std::atomic<unsigned> generation_{0};  // one per Show: a late close of a past load is ignored
    uint32_t minimum_ = 0;
    uint32_t maximum_ = 1000;
    bool open_ = false;
};

}  // namespace app
