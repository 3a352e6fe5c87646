#pragma once
// The simulated radio's I/O loop on the master side of a pseudo-terminal: reads what the
// program sends, hands it to the mode, and writes the mode's answers back, delayed as a line
// at the given rate would deliver them.

#include <cstddef>
#include <cstdint>

#include "sim/radio/RadioMode.h"

namespace radio {

class RadioSimulator : private RadioLine {
  public:
    // baud 0: answers go out at once.
    RadioSimulator(int masterFd, RadioMode& mode, uint32_t baud = 0);
    ~RadioSimulator() override;
    RadioSimulator(const RadioSimulator&) = delete;
    RadioSimulator& operator=(const RadioSimulator&) = delete;

    // Serves the line until Stop(); false when the line failed for good.
    bool Run();
    // From any thread, and from a signal handler (only writes to an eventfd).
    void Stop();

  private:
    void Send(const uint8_t* bytes, size_t n) override;
    void Echo(const uint8_t* bytes, size_t n) override;
    uint64_t SendNoted(const uint8_t* bytes, size_t n) override;
    // Writes bytes once the line would have delivered them, doneUs on the steady clock (0: now).
    // Returns when (platform::TickMs) the first write began.
    uint64_t SendAt(const uint8_t* bytes, size_t n, uint64_t doneUs);
    // Waits up to ms for the stop request; true when it came.
    bool WaitStop(int ms);

    int fd_;
    RadioMode& mode_;
    uint32_t baud_;
    // With a rate: when the bytes received so far would have finished arriving on the line
    // (microseconds on the steady clock). No answer leaves before its request has arrived.
    uint64_t rxDoneUs_ = 0;
    uint64_t LineUs(size_t n) const;
    int stopFd_;
    bool stopping_ = false;
};

}  // namespace radio
