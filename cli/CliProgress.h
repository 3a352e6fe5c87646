#pragma once
// Progress of a load or save on stderr, when stderr is a terminal: percent, bytes, rate, time
// left and the current address. Ctrl-C marks it cancelled.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "memops/ProgressView.h"

namespace cli {

class CliProgress : public memops::ProgressView {
  public:
    explicit CliProgress(bool quiet) : quiet_(quiet) {}

    void Show(const std::string& title, const std::string& fileName, const std::string& header,
              uint32_t total) override;
    void Progress(uint32_t bytesDone, uint32_t address) override;
    bool IsCancelled() const override { return cancelled_.load(); }
    void Close() override;
    void RunUntil(platform::Event& finished) override;

    // The Cancel button: marks the view and runs the owner's cancel.
    void Cancel(const std::function<void()>& ownerCancel);
    // Draws one line for done of total (total 0: unknown).
    void Draw(uint32_t done, uint32_t total, uint32_t address);
    void Start(uint32_t total);

  private:
    bool quiet_;
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    uint32_t total_ = 0;
    uint64_t startMs_ = 0;
    uint64_t lastDrawMs_ = 0;
    bool active_ = false;
};

}  // namespace cli
