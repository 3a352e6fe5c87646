#include "serial/PortWorker.h"

#include <poll.h>

#include "platform/Clock.h"

namespace serial {

PortWorker::PortWorker(Transfer transfer) : transfer_(std::move(transfer)) {}

PortWorker::~PortWorker() {
    Stop();
}

bool PortWorker::Start() {
    if (thread_.joinable())
        return running_.load();
    stop_ = false;
    running_ = true;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (...) {
        running_ = false;
        return false;
    }
    return true;
}

void PortWorker::Stop() {
    if (!thread_.joinable())
        return;
    if (running_.load()) {
        while (!idle_.IsSignalled()) {
            abort_.Set();
            pollfd p{idle_.fd(), POLLIN, 0};
            (void)poll(&p, 1, 100);
        }
    }
    stop_ = true;
    start_.Set();
    thread_.join();
    running_ = false;
}

bool PortWorker::TakeSlot() {
    return running_.load() && !stop_.load() && idle_.TryWait();
}

void PortWorker::HandOver(void* request, Mode mode) {
    {
        std::lock_guard lock(slotMutex_);
        result_ = 0;
        request_ = request;
        mode_ = mode;
    }
    abort_.Reset();
    start_.Set();
}

bool PortWorker::Call(void* request, uint32_t waitMs, int32_t& result) {
    return CallPumping(request, waitMs, result, nullptr);
}

bool PortWorker::CallPumping(void* request, uint32_t waitMs, int32_t& result,
                             platform::MessagePump* pump, const std::function<bool()>& attempt) {
    if (!TakeSlot())
        return false;
    if (attempt && attempt()) {
        result = 0;
        idle_.Set();
        return true;
    }
    if (pump == nullptr && waitMs == platform::kInfinite) {
        // Nothing to dispatch and no limit to watch: the transfer runs on this thread, which
        // saves two thread switches a request. It waits on the same abort event, so Abort and
        // Stop reach it as they reach the worker.
        abort_.Reset();
        result = transfer_(request, abort_);
        idle_.Set();
        return true;
    }
    HandOver(request, kSignal);
    bool finished;
    if (pump) {
        finished = pump->PumpUntil(done_, waitMs);
        if (finished)
            done_.Wait();  // the pump leaves the event signalled
    } else {
        finished = done_.Wait(waitMs);
    }
    if (!finished) {
        abort_.Set();
        done_.Wait();
    }
    {
        std::lock_guard lock(slotMutex_);
        result = result_;
    }
    // The slot is given back only now, after the result is out, so that the next caller
    // cannot overwrite it first.
    idle_.Set();
    return true;
}

bool PortWorker::PostWithCallback(void* request, CompletionFn fn) {
    if (!TakeSlot())
        return false;
    if (fn) {
        std::lock_guard lock(slotMutex_);
        completion_ = std::move(fn);
    }
    HandOver(request, kCallback);
    return true;
}

bool PortWorker::PostWithMessage(void* request, platform::MessageTarget* window) {
    if (!TakeSlot())
        return false;
    if (window) {
        std::lock_guard lock(slotMutex_);
        notifyWindow_ = window;
    }
    HandOver(request, kMessage);
    return true;
}

void PortWorker::Run() {
    platform::RaiseThreadPriority();
    for (;;) {
        start_.Wait();
        if (stop_.load())
            break;
        void* request;
        {
            std::lock_guard lock(slotMutex_);
            request = request_;
        }
        int32_t result = transfer_(request, abort_);
        Mode mode;
        CompletionFn fn;
        platform::MessageTarget* window;
        {
            std::lock_guard lock(slotMutex_);
            result_ = result;
            mode = mode_;
            fn = completion_;
            window = notifyWindow_;
        }
        switch (mode) {
            case kSignal:
                done_.Set();  // Call gives the slot back
                break;
            case kCallback:
                ++notifying_;
                idle_.Set();  // first, so that the function may hand over the next request
                if (fn)
                    fn(request, result);
                --notifying_;
                break;
            case kMessage:
                ++notifying_;
                idle_.Set();
                if (window)
                    window->PostMessage(notifyMessage_.load(), result,
                                        reinterpret_cast<intptr_t>(request));
                --notifying_;
                break;
        }
    }
    running_ = false;
    done_.Set();
}

}  // namespace serial
