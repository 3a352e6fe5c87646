#pragma once
// A window for the tests: records what the reader thread posts to it.

#include <corvex/Corvex.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

class TestWindow : public CHostWindow {
  public:
    void PostMessage(unsigned int message, uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard<std::mutex> g(m_);
        ++posts_;
        lastMessage_ = message;
        lastW_ = wParam;
        lastL_ = lParam;
        cv_.notify_all();
    }
    // Waits (up to 15 s, an abort path only) until n messages were posted in all.
    bool WaitPosts(int n) {
        std::unique_lock<std::mutex> g(m_);
        return cv_.wait_for(g, std::chrono::seconds(15), [&] { return posts_ >= n; });
    }
    int Posts() {
        std::lock_guard<std::mutex> g(m_);
        return posts_;
    }
    bool LastWasHostMsg() {
        std::lock_guard<std::mutex> g(m_);
        return lastMessage_ == WM_HOSTMSG && lastW_ == 0 && lastL_ == 0;
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    int posts_ = 0;
    unsigned lastMessage_ = 0;
    uintptr_t lastW_ = 1;
    intptr_t lastL_ = 1;
};

// Number of messages in host_queue, read under the queue's lock.
inline unsigned long HostQueueCount() {
    host_queue.BlockQueue();
    unsigned long n = host_queue.GetMsgCount();
    host_queue.UnBlockQueue();
    return n;
}

inline void ClearHostQueue() {
    host_queue.BlockQueue();
    host_queue.RemoveAllMessages();
    host_queue.UnBlockQueue();
}
