#pragma once
// A waitable event in the desktop style (auto- or manual-reset) built on an eventfd, so that
// it can be waited on alone, with a time-out, or together with file descriptors in one poll.

#include <cstdint>
#include <initializer_list>
#include <span>

namespace platform {

// Time-out meaning "no limit" for every wait of this layer.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
  public:
    enum class Reset { Auto, Manual };

    explicit Event(Reset mode = Reset::Auto, bool signalled = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Waits until signalled or ms milliseconds have passed. An auto-reset event is consumed by
    // a successful wait. Returns true when the event was signalled.
    bool Wait(uint32_t ms = kInfinite);
    // Zero-time test; consumes an auto-reset event like Wait(0).
    bool TryWait() { return mode_ == Reset::Manual ? IsSignalled() : Consume(); }
    // Whether the event is signalled, without consuming it.
    bool IsSignalled() const;
    // Readable while the event is signalled.
    int fd() const { return fd_; }
    bool IsManualReset() const { return mode_ == Reset::Manual; }

  private:
    bool Consume();
    int fd_;
    enum Reset mode_;
};

// Result of WaitAny: which input became ready first (events are numbered first, then fds),
// or kWaitTimeout.
inline constexpr int kWaitTimeout = -1;

// Waits until one of the events is signalled or one of the fds is readable (events take
// precedence, in order). An auto-reset event that wins is consumed.
int WaitAny(std::span<Event* const> events, std::span<const int> readFds, uint32_t ms);
int WaitAny(std::initializer_list<Event*> events, uint32_t ms);

}  // namespace platform
