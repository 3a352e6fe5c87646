#include "Platform.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace corvex {

ManualEvent::ManualEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

ManualEvent::~ManualEvent() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void ManualEvent::Set() {
    std::lock_guard<std::mutex> g(m_);
    if (!set_ && fd_ >= 0) {
        uint64_t one = 1;
        if (::write(fd_, &one, sizeof one) == sizeof one) {
            set_ = true;
        }
    }
}

void ManualEvent::Reset() {
    std::lock_guard<std::mutex> g(m_);
    if (set_) {
        uint64_t value;
        while (::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
        }
        set_ = false;
    }
}

bool ManualEvent::IsSet() {
    std::lock_guard<std::mutex> g(m_);
    return set_;
}

bool ManualEvent::Wait(int ms) {
    if (fd_ < 0) {
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        if (IsSet()) {
            return true;
        }
        int timeout = -1;
        if (ms >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) {
                return false;
            }
            timeout = static_cast<int>(left) + 1;
        }
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, timeout);
        if (r < 0 && errno != EINTR) {
            return false;
        }
    }
}

void SleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void DebugOut(const char* text) {
    static const bool enabled = std::getenv("CORVEX_DEBUG") != nullptr;
    if (enabled && text) {
        ssize_t ignored = ::write(2, text, std::strlen(text));
        (void)ignored;
    }
}

SendFunction g_send = &::send;

}  // namespace corvex
