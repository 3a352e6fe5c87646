#pragma once
// One background thread with a single request slot. A caller hands it one request at a time
// and waits for it (with or without keeping a user interface live), or lets it finish alone
// and is told by a completion function or a posted message. Another thread can abort the
// request in progress through the abort event; that is how Cancel reaches a pending transfer.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/Event.h"
#include "platform/MessagePump.h"

namespace serial {

class PortWorker {
  public:
    // Runs one request; returns 0 when it completed, -1 when aborted or the wait failed, or
    // line-error bits.
    using Transfer = std::function<int32_t(void* request, platform::Event& abort)>;
    using CompletionFn = std::function<void(void* request, int32_t result)>;

    static constexpr uint32_t kDefaultNotifyMessage = 0x400;

    explicit PortWorker(Transfer transfer);
    ~PortWorker();  // stops the thread
    PortWorker(const PortWorker&) = delete;
    PortWorker& operator=(const PortWorker&) = delete;

    // Starts the thread; false when it cannot be started.
    bool Start();
    // Aborts the request in progress every 100 ms until the slot is idle, then ends the thread.
    void Stop();

    // Refused (false) when the thread is not running or the slot is busy; otherwise waits up
    // to waitMs for completion (then aborts and waits for the end) and gives the result.
    // Without a limit the transfer runs on the caller's thread, abortable all the same.
    bool Call(void* request, uint32_t waitMs, int32_t& result);
    // As Call, dispatching the caller's events through pump while it waits (nullptr: Call).
    // With the slot taken, attempt (when given) runs first on the caller's thread; when it
    // returns true it has served the request (result 0) and the thread is not involved.
    bool CallPumping(void* request, uint32_t waitMs, int32_t& result, platform::MessagePump* pump,
                     const std::function<bool()>& attempt = {});
    // Returns at once; fn(request, result) runs on the worker's thread at completion. An empty
    // fn keeps the previous one.
    bool PostWithCallback(void* request, CompletionFn fn);
    // Returns at once; the window receives (notify message, result, request) at completion.
    // nullptr keeps the previous window.
    bool PostWithMessage(void* request, platform::MessageTarget* window);

    void Abort() { abort_.Set(); }
    bool IsRunning() const { return running_.load(); }
    bool IsIdle() const { return idle_.IsSignalled(); }
    // Idle, and no completion function or message of the last request still running: after
    // this the worker touches nothing of the caller's.
    bool IsQuiet() const { return notifying_.load() == 0 && idle_.IsSignalled(); }
    void SetNotifyMessage(uint32_t message) { notifyMessage_ = message; }

  private:
    enum Mode : uint32_t { kSignal = 0, kCallback = 1, kMessage = 2 };
    bool TakeSlot();
    void HandOver(void* request, Mode mode);
    void Run();

    Transfer transfer_;
    platform::Event idle_{platform::Event::Reset::Auto, true};
    std::atomic<bool> stop_{false};
    platform::MessageTarget* notifyWindow_ = nullptr;
    platform::Event start_{platform::Event::Reset::Auto};
    platform::Event done_{platform::Event::Reset::Auto};
    platform::Event abort_{platform::Event::Reset::Manual};
    std::atomic<uint32_t> notifyMessage_{kDefaultNotifyMessage};
    std::mutex slotMutex_;  // guards the slot fields below between caller and worker
    int32_t result_ = 0;
    void* request_ = nullptr;
    CompletionFn completion_;
    Mode mode_ = kSignal;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<int> notifying_{0};
};

}  // namespace serial
