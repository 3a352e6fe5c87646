#pragma once
// The "LOADING" progress window as the image loader sees it. The desktop shows a window with
// a bar and Cancel; the command line draws a bar on stderr; tests record the calls.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace platform {
class Event;
}

namespace memops {

class ProgressView {
  public:
    virtual ~ProgressView() = default;
    // Caller's thread, before the transfer starts. total may be 0 (an image with no data).
    virtual void Show(const std::string& title, const std::string& fileName,
                      const std::string& header, uint32_t total) = 0;
    // Any thread: bytes of the image done so far and the address being sent.
    virtual void Progress(uint32_t bytesDone, uint32_t address) = 0;
    // Whether the user asked to cancel (polled by the transfer).
    virtual bool IsCancelled() const = 0;
    // Any thread: the transfer has ended; the window closes itself.
    virtual void Close() = 0;
    // Caller's thread: keeps the front end live until finished is signalled (must not consume
    // it). The command line simply waits.
    virtual void RunUntil(platform::Event& finished) = 0;

    // The loader's own cancel (stop, abort and purge), set by the loader for the length of a
    // transfer. A window's Cancel button marks itself cancelled and then calls RequestCancel,
    // so a wait without time limit ends at once instead of at the next poll of IsCancelled.
    void SetCancelHook(std::function<void()> hook) {
        std::lock_guard lock(hookMutex_);
        cancelHook_ = std::move(hook);
    }
    // Runs the hook, if a transfer set one; false when none was set.
    bool RequestCancel() {
        std::function<void()> hook;
        {
            std::lock_guard lock(hookMutex_);
            hook = cancelHook_;
        }
        if (!hook)
            return false;
        hook();
        return true;
    }

  private:
    std::mutex hookMutex_;
    std::function<void()> cancelHook_;
};

// Bar position 0..1000 for bytesDone of total; an image with no data shows as complete.
inline uint32_t ProgressPermille(uint32_t bytesDone, uint32_t total) {
    if (total == 0)
        return 1000;
    uint64_t p = uint64_t(bytesDone) * 1000 / total;
    return p > 1000 ? 1000 : static_cast<uint32_t>(p);
}

}  // namespace memops
