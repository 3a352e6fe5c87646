#pragma once
// Stream buffer that turns every completed line into one message box.

#include <streambuf>
#include <string>

#include "streams/CharQueue.h"

namespace streams {

class MessagePresenter;

class MessageBoxBuffer : public std::streambuf {
  public:
    // presenter == nullptr: the process-wide presenter at the time each box is shown.
    explicit MessageBoxBuffer(const char* caption, MessagePresenter* presenter = nullptr);
    ~MessageBoxBuffer() override;

    const CharQueue& Queue() const { return queue_; }
    const std::string& LastText() const { return text_; }

  protected:
    int_type overflow(int_type ch) override;
    int sync() override;
    int_type underflow() override { return 0; }

  private:
    void Show();

    const char* caption_;
    CharQueue queue_;
    std::string text_;
    MessagePresenter* presenter_;
};

}  // namespace streams
