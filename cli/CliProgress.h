#pragma once
// Progress of a load or save on stderr, when stderr is a terminal: percent, bytes, rate, time
// left and the current address.

#include <cstdint>
#include <mutex>
#include <string>

#include "memops/ProgressView.h"

namespace cli {

class CliProgress : public memops::ProgressView {
  public:
    explicit CliProgress(bool quiet) : quiet_(quiet) {}

    void Started(const std::string& title, const std::string& fileName, const std::string& header,
                 uint32_t total) override;
    void Progress(uint32_t bytesDone, uint32_t address) override;
    void Finished() override { Close(); }

    // Clears the line.
    void Close();
    // Draws one line for done of total (total 0: unknown).
    void Draw(uint32_t done, uint32_t total, uint32_t address);
    void Start(uint32_t total);

  private:
    bool quiet_;
    std::mutex mutex_;
    uint32_t total_ = 0;
    uint64_t startMs_ = 0;
    uint64_t lastDrawMs_ = 0;
    bool active_ = false;
};

}  // namespace cli
