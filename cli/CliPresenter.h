#pragma once
// Message boxes on the command line: one line on stderr per box ('\r' becomes a line break),
// except the result texts of successful requests, which are the command's output and go to
// stdout.

#include <atomic>

#include "streams/MessagePresenter.h"

namespace cli {

class CliPresenter : public streams::MessagePresenter {
  public:
    void Show(const std::string& text, const std::string& caption) override;
    // Whether any box went to stderr (a failure or warning was reported).
    bool AnyMessage() const { return messages_.load() > 0; }
    void Reset() { messages_ = 0; }

  private:
    std::atomic<int> messages_{0};
};

}  // namespace cli
