#pragma once
// Reading a wire trace back: its lines, the gaps between them, and a summary of what went over
// the line (frames, retries, NAKs, bytes each way, the longest wait and where it was).

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "trace/WireTrace.h"

namespace trace {

struct TraceLine {
    uint64_t us = 0;
    Direction direction = Direction::Sent;
    std::string what;   // "request Write Data", "ack" ...
    size_t count = 0;   // bytes, as the line says
    std::string bytes;  // the hex after the colon
    size_t number = 0;  // line number in the file, from 1
};

// One line of a trace; nothing for a comment, an empty line or one that is not a trace line.
std::optional<TraceLine> ParseTraceLine(std::string_view text, size_t number);

struct TraceSummary {
    size_t requests = 0, replies = 0, acks = 0, naks = 0, echoes = 0, raw = 0, garbage = 0;
    size_t retries = 0;    // a request sent again as it was, after a NAK or a time-out
    size_t malformed = 0;  // lines that were neither comments nor trace lines
    uint64_t bytesSent = 0, bytesReceived = 0;
    // The longest time the line waited for the radio: from a line sent to the next received.
    uint64_t longestWaitUs = 0;
    std::optional<TraceLine> longestWaitBefore;  // the received line that ended it
    std::string longestWaitAfter;                // what was sent before it
};

class TraceSummarizer {
  public:
    void Add(const TraceLine& line);
    void AddMalformed() { ++summary_.malformed; }
    const TraceSummary& Summary() const { return summary_; }

  private:
    TraceSummary summary_;
    std::optional<TraceLine> previous_;
    std::string lastRequest_;  // bytes of the last request, to tell a retry
};

// "zimp trace show": every line with the gap since the one before and its first bytes, then
// the summary. Lines longer than maxLine are counted as malformed and skipped. False when the
// text held no trace line at all.
bool ShowTrace(std::istream& in, std::ostream& out, size_t maxLine = 1 << 20);

}  // namespace trace
