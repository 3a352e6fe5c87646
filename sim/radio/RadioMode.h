#pragma once
// What the simulated radio does with the bytes it receives is a mode: ZIMP now, boot-loader
// modes later. The simulator's I/O loop feeds a mode and writes what it answers.

#include <cstddef>
#include <cstdint>
#include <ostream>

#include "platform/Clock.h"

namespace radio {

// The radio's transmit side.
class RadioLine {
  public:
    virtual ~RadioLine() = default;
    // One answer (an acknowledgement, a reply frame, echoed bytes); delayed as the line would
    // when the simulator runs at a rate.
    virtual void Send(const uint8_t* bytes, size_t n) = 0;
    // Bytes returned one by one as they arrive: on a line at a rate the last of them is back
    // one byte time after the last byte received, not a whole answer's time later.
    virtual void Echo(const uint8_t* bytes, size_t n) { Send(bytes, n); }
    // As Send, and returns when the first byte was handed to the line, on the clock of
    // Receive's nowMs (platform::TickMs), so that the radio can note when a NAK went out. A
    // line without a clock of its own tells when it was handed the bytes.
    virtual uint64_t SendNoted(const uint8_t* bytes, size_t n) {
        const uint64_t ms = platform::TickMs();
        Send(bytes, n);
        return ms;
    }
};

class RadioMode {
  public:
    virtual ~RadioMode() = default;
    // Bytes that arrived on the line at nowMs (a monotonic clock).
    virtual void Receive(const uint8_t* bytes, size_t n, uint64_t nowMs, RadioLine& line) = 0;
    // Called while the line is quiet, so that a stale partial frame can be dropped.
    virtual void Idle(uint64_t nowMs) = 0;
    // Everything worth looking at after a run, as one JSON document.
    virtual void WriteDump(std::ostream& out) const = 0;
};

}  // namespace radio
