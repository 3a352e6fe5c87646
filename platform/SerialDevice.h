#pragma once
// One serial device over termios with the desktop's transfer model: time-outs per transfer
// (interval, multiplier per byte, constant), transfers that an abort descriptor ends at once,
// queue purges, line-error bits and line events.
//
// Read, Write and WaitEvent may run at the same time on three threads; the other calls come
// from the owner's thread.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/SerialSettings.h"

namespace platform {

// Line-error bits, as the desktop reports them.
enum LineError : uint32_t {
    kErrRxOver = 0x0001,   // input buffer overflow
    kErrOverrun = 0x0002,  // character lost in the UART
    kErrParity = 0x0004,
    kErrFrame = 0x0008,
    kErrBreak = 0x0010,
    kErrIo = 0x0400,  // the device failed or went away
};

// A serial driver's line-error counters, each counting one kind of fault.
struct LineErrorCounts {
    uint32_t overrun = 0;        // characters lost in the UART
    uint32_t bufferOverrun = 0;  // characters lost for want of room in the input buffer
    uint32_t parity = 0;
    uint32_t frame = 0;
    uint32_t brk = 0;
};

// The line-error bits of the counters that moved between two readings.
uint32_t LineErrorBits(const LineErrorCounts& before, const LineErrorCounts& after);

// Line events.
enum LineEvent : uint32_t {
    kEvRxChar = 0x0001,  // a character was received
    kEvErr = 0x0080,     // a line error occurred
};

// Purge flags.
enum PurgeFlag : uint32_t {
    kPurgeTxAbort = 1,
    kPurgeRxAbort = 2,
    kPurgeTxClear = 4,
    kPurgeRxClear = 8,
    kPurgeAll = 15,
};

enum class TransferStatus { Done, Aborted, Failed };

// Why a device did not open, with the system's error number beside it.
enum class OpenError {
    None,
    NotFound,      // no such device
    Denied,        // not permitted
    Busy,          // another program holds it (its lock or exclusive use)
    NotATerminal,  // not a serial device
    NameTooLong,   // longer than the system's path limit
    Settings,      // the device refused the line settings (rate, format)
    Other,
};

struct OpenFailure {
    OpenError error = OpenError::None;
    int sysErrno = 0;
    std::string holder;  // Busy: "zimp, pid 4242" when the holding process could be found
};

// "No such file or directory", "held by another program (zimp, pid 4242)", ...: the reason
// in words.
std::string OpenFailureText(const OpenFailure& failure);
// "NAME, pid N" of a process other than this one that has the device at path open; empty when
// none can be seen (another user's processes are not readable).
std::string DeviceHolder(const std::string& path);

class SerialDevice {
  public:
    SerialDevice();
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens an existing device for exclusive use, in raw mode: exclusive mode and an advisory
    // lock (flock), which binds programs that exclusive mode does not (root), both released
    // on Close. false when it does not exist, is not a terminal, or another program holds it;
    // LastOpenFailure() says why.
    bool Open(const std::string& name);
    const OpenFailure& LastOpenFailure() const { return openFailure_; }
    void Close();
    bool IsOpen() const { return fd_.load() >= 0; }
    // The device failed or went away (unplugged, its far side closed) since it was opened:
    // nothing more moves through it until it is opened again.
    bool Gone() const { return gone_.load(); }

    bool SetSettings(const SerialSettings& settings);
    bool GetTimeouts(SerialTimeouts& timeouts) const;
    bool SetTimeouts(const SerialTimeouts& timeouts);
    // Linux sizes its tty buffers itself: the request is recorded and accepted.
    bool SetupQueues(uint32_t inSize, uint32_t outSize);
    uint32_t RequestedInQueue() const { return inQueue_; }
    uint32_t RequestedOutQueue() const { return outQueue_; }
    bool Purge(uint32_t flags);
    // Line-error bits seen since the last call, cleared by reading them.
    uint32_t ClearErrors();
    bool SetEventMask(uint32_t mask);
    uint32_t EventMask() const { return eventMask_.load(); }

    // Reads up to n bytes under the current time-outs; got receives the count moved even when
    // the transfer is aborted (abortFd readable) or fails.
    TransferStatus Read(void* buf, uint32_t n, uint32_t& got, int abortFd);
    TransferStatus Write(const void* buf, uint32_t n, uint32_t& put, int abortFd);
    // Moves what the device takes or holds at this moment, without waiting: the bytes moved
    // (0 also on a failure, which a following Read or Write reports).
    uint32_t ReadNow(void* buf, uint32_t n);
    uint32_t WriteNow(const void* buf, uint32_t n);
    // Waits for one of the events in the mask. A change of mask ends the wait with events 0.
    TransferStatus WaitEvent(uint32_t& events, int abortFd);

  private:
    uint32_t PollLineErrors();
    void MarkGone();  // the I/O-error bit, and Gone()
    // Waits up to waitMs for the device to be ready for events; the end of the transfer when
    // it was aborted, purged (purgeGen moved on from gen) or the device failed, else nothing.
    std::optional<TransferStatus> AwaitDevice(int fd, short events, int abortFd, int wakeFd,
                                              const std::atomic<uint64_t>& purgeGen, uint64_t gen,
                                              int waitMs, bool hangupFails);
    int Fd() const { return fd_.load(); }

    bool FailOpen(OpenError error, int sysErrno, int fd);

    std::atomic<int> fd_{-1};
    OpenFailure openFailure_;
    mutable std::mutex mutex_;  // guards timeouts_ and the error baseline
    SerialTimeouts timeouts_;
    std::atomic<uint32_t> pendingErrors_{0};
    std::atomic<bool> gone_{false};
    bool haveCounts_ = false;
    LineErrorCounts lastCounts_;
    uint32_t inQueue_ = 0, outQueue_ = 0;
    std::atomic<uint32_t> eventMask_{0};
    // Wake-ups for pending transfers: purge of reads, purge of writes, mask change.
    int readWake_, writeWake_, maskWake_;
    std::atomic<uint64_t> readGen_{0}, writeGen_{0}, maskGen_{0};
};

}  // namespace platform
