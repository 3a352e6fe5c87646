#pragma once
// A wire trace: every byte sent and received on a serial line, with the time since the trace
// began (microseconds), its direction and, once the protocol knows, the frame it belongs to.
// One text line per frame or run of bytes:
//
//     0.012345 > request Write Data (1031): FF 17 04 07 00 40 10 00 ...
//     0.104410 < ack (1): 50
//
// The port hands over the bytes as they pass (Bytes); the protocol then names what the open
// run of that direction was (Label). A run nobody names (a boot loader's raw bytes) ends as
// "raw" when the other direction speaks, after a pause, or when the trace closes. Any thread.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/ReplacementFile.h"

namespace trace {

enum class Direction { Sent = 0, Received = 1 };

class WireTrace {
  public:
    // A run of unnamed bytes ends after this long without a byte.
    static constexpr uint64_t kRunPauseUs = 20000;
    // Text goes to the file in pieces of about this size, written by a thread of the trace's
    // own, so that a transfer never waits for the disk; if the disk falls this far behind,
    // the transfer waits for it after all (at most kStallMs, then the trace gives up).
    static constexpr size_t kFlushBytes = 256 * 1024;
    static constexpr size_t kMaxBehind = 64u << 20;
    static constexpr int kStallMs = 10000;

    WireTrace() = default;
    ~WireTrace();
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    // Starts a trace into path: written beside it and renamed over it by Close (a FIFO or
    // standard output is written into). The clock starts now. Empty when open, else why not.
    std::string Open(const std::string& path);
    // Ends the open runs, writes the rest and puts the file in place. Empty when it was
    // written whole, else why not (what was written stays beside the target).
    std::string Close();
    bool IsOpen() const;
    const std::string& Path() const { return path_; }

    void Bytes(Direction direction, const uint8_t* bytes, size_t n);
    // The open run of direction was this ("request Status", "ack", "NAK", "echo" ...).
    void Label(Direction direction, std::string_view what);
    // A comment line ("# port /dev/ttyUSB0 at 115200").
    void Note(std::string_view text);

  private:
    struct Run {
        std::string bytes;
        uint64_t startUs = 0;
        uint64_t lastUs = 0;
    };
    uint64_t NowUs() const;
    void EndRun(Direction direction, std::string_view what);  // under mutex_
    // Hands what is in out_ to the writer; under mutex_, held by lock.
    void Flush(std::unique_lock<std::mutex>& lock);
    void Writer();

    mutable std::mutex mutex_;
    std::condition_variable wake_;  // the writer: a piece to write, or stop
    std::condition_variable room_;  // the piece was written
    std::thread writer_;
    std::string writing_;  // the piece the writer has
    bool pending_ = false, stop_ = false;
    platform::ReplacementFile file_;
    std::string path_;
    bool open_ = false;
    bool writeFailed_ = false;
    int writeErrno_ = 0;
    std::chrono::steady_clock::time_point start_{};
    Run runs_[2];
    std::string out_;
};

// The ZIMP name of a request frame: "Write Data", "Status" ..., or "F1 20" for another.
std::string RequestName(const uint8_t* frame, size_t n);
// The name of a reply by its opcode word: "Read", "Written", "Bad Write" ..., or "F1 86".
std::string ReplyName(uint16_t opcode);

}  // namespace trace
