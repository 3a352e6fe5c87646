#pragma once
// The little of the operating system the library needs: manual-reset events that can be
// polled as file descriptors, sleeps, debug output and hex digits.

#include <sys/types.h>

#include <cstddef>
#include <mutex>

namespace corvex {

// A manual-reset event on an eventfd: the descriptor is readable exactly while the event is
// set, so it can be polled together with sockets.
struct ManualEvent {
    ManualEvent();
    ~ManualEvent();
    ManualEvent(const ManualEvent&) = delete;
    ManualEvent& operator=(const ManualEvent&) = delete;

    bool ok() const { return fd_ >= 0; }
    void Set();
    void Reset();
    bool IsSet();
    // Waits up to ms milliseconds (negative: no limit); true when the event is set.
    bool Wait(int ms);
    int fd() const { return fd_; }

  private:
    std::mutex m_;
    bool set_ = false;
    int fd_ = -1;
};

void SleepMs(unsigned ms);

// The value of one hexadecimal digit of either case, or -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Writes text to stderr when CORVEX_DEBUG is set in the environment, else nowhere.
void DebugOut(const char* text);

// The send call of the transport; tests replace it to play a peer that takes a byte at a time.
using SendFunction = ssize_t (*)(int, const void*, size_t, int);
extern SendFunction g_send;

}  // namespace corvex
