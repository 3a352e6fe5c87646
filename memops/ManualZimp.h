#pragma once
// Raw requests typed as hex text: the command checks, the optional checksum byte, the write,
// and an event-driven receive that shows every byte arriving from the radio.

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/MessagePump.h"
#include "serial/SerialPort.h"

namespace memops {

// Where the reply box is.
class ManualZimpView {
  public:
    virtual ~ManualZimpView() = default;
    virtual void AppendReply(const std::string& text) = 0;
};

// Completion messages posted by a worker, kept until the owning thread takes them.
class PostedMessages : public platform::MessageTarget {
  public:
    struct Message {
        uint32_t message;
        intptr_t wParam, lParam;
    };
    void PostMessage(uint32_t message, intptr_t wParam, intptr_t lParam) override;
    // Waits up to ms for a message; false when none came.
    bool Take(Message& m, uint32_t ms);

  private:
    std::mutex mutex_;
    std::deque<Message> queue_;
    platform::Event ready_{platform::Event::Reset::Manual};
};

class ManualZimp {
  public:
    static constexpr uint32_t kEventMessage = 0x401;
    static constexpr size_t kMaxText = 255;
    static constexpr size_t kBufferSize = 512;

    // target receives the event worker's completions; the owner hands each back to OnEvent on
    // its own thread.
    ManualZimp(serial::SerialPort* port, ManualZimpView& view, platform::MessageTarget& target)
        : port_(port), view_(view), target_(target) {}
    ~ManualZimp();
    ManualZimp(const ManualZimp&) = delete;
    ManualZimp& operator=(const ManualZimp&) = delete;

    // "You have to set port\n" without a port. Otherwise starts waiting for port events.
    bool Open();
    // Checks and sends the command text; false when it was refused (nothing sent).
    bool Send(const std::string& commandText, bool checksum);
    // The event worker's completion with result r.
    void OnEvent(int32_t r);
    // Ends the event wait (Cancel) and waits until the event worker has let go of the target.
    void Close();

    // The bytes of the last send, for tests and the command line.
    const std::vector<uint8_t>& LastSent() const { return sent_; }
    const std::string& CommandText() const { return command_; }

  private:
    void PostWait();

    serial::SerialPort* port_;
    ManualZimpView& view_;
    platform::MessageTarget& target_;
    std::string command_;
    std::vector<uint8_t> sent_;
    bool reportErrors_ = true;
    std::atomic<bool> closed_{false};
    uint32_t eventWord_ = 0;
};

}  // namespace memops
