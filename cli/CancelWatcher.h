#pragma once
// Ctrl-C for the command line: SIGINT, SIGTERM and SIGHUP are blocked in every thread and taken by
// one watcher thread, which runs the current operation's own cancel (abort and purge) instead of
// killing the process in the middle of a transfer.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace cli {

class CancelWatcher {
  public:
    // An interrupt this soon after the first is the same one, sent twice.
    static constexpr uint64_t kSameInterruptMs = 200;

    // Call before any other thread starts, so that they all inherit the blocked signals.
    CancelWatcher();
    ~CancelWatcher();
    CancelWatcher(const CancelWatcher&) = delete;
    CancelWatcher& operator=(const CancelWatcher&) = delete;

    // The function run (on the watcher thread) when the user interrupts; empty: none. Waits
    // for a handler that is running to return. A handler must not call SetHandler.
    void SetHandler(std::function<void()> handler);
    // The function run (on the watcher thread) just before a second interrupt ends the
    // process at once: what can be kept by a rename or two (a save's partial file). Empty:
    // none. Waits for one that is running to return.
    void SetLastWish(std::function<void()> wish);
    bool Cancelled() const { return cancelled_.load(); }

  private:
    [[noreturn]] void ExitNow();
    void Run();
    std::thread thread_;
    std::mutex mutex_;
    std::function<void()> handler_;
    std::mutex lastWishMutex_;
    std::function<void()> lastWish_;
    std::atomic<bool> cancelled_{false};
    uint64_t firstAt_ = 0;  // when the first interrupt came; the watcher's thread only
    int wakeFd_;
};

}  // namespace cli
