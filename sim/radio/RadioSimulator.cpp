#include "sim/radio/RadioSimulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/Clock.h"

namespace radio {
namespace {
uint64_t NowUs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

// How often a quiet line is looked at, so that a stale partial frame goes in time.
constexpr int kIdleTickMs = 20;
}  // namespace

RadioSimulator::RadioSimulator(int masterFd, RadioMode& mode, uint32_t baud)
    : fd_(masterFd), mode_(mode), baud_(baud), stopFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

RadioSimulator::~RadioSimulator() {
    if (stopFd_ >= 0)
        close(stopFd_);
}

void RadioSimulator::Stop() {
    const uint64_t one = 1;
    (void)!write(stopFd_, &one, sizeof one);
}

bool RadioSimulator::WaitStop(int ms) {
    if (stopping_)
        return true;
    pollfd p{stopFd_, POLLIN, 0};
    if (poll(&p, 1, ms) > 0 && (p.revents & POLLIN))
        stopping_ = true;
    return stopping_;
}

bool RadioSimulator::Run() {
    if (fd_ < 0 || stopFd_ < 0)
        return false;
    uint8_t buf[16384];  // a whole block per read where the line holds one
    while (!stopping_) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        const int r = poll(p, 2, kIdleTickMs);
        if (r < 0 && errno != EINTR)
            return false;
        if (p[1].revents & POLLIN) {
            stopping_ = true;
            break;
        }
        if (p[0].revents & POLLIN) {
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) {
                if (baud_ != 0)
                    rxDoneUs_ = std::max(rxDoneUs_, NowUs()) + LineUs(static_cast<size_t>(n));
                mode_.Receive(buf, static_cast<size_t>(n), platform::TickMs(), *this);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
                return false;
        }
        if (p[0].revents & (POLLHUP | POLLERR)) {
            // No slave open at the moment (EIO): wait for a client without spinning.
            if (p[0].revents & POLLNVAL)
                return false;
            WaitStop(kIdleTickMs);
        }
        if (p[0].revents & POLLNVAL)
            return false;
        mode_.Idle(platform::TickMs());
    }
    return true;
}

uint64_t RadioSimulator::LineUs(size_t n) const {
    return baud_ ? uint64_t(n) * 10 * 1000000 / baud_ : 0;  // 10 bits a byte on the line
}

void RadioSimulator::Send(const uint8_t* bytes, size_t n) {
    SendNoted(bytes, n);
}

uint64_t RadioSimulator::SendNoted(const uint8_t* bytes, size_t n) {
    // The answer starts once the request has arrived and ends a line time later.
    return SendAt(bytes, n, baud_ ? std::max(NowUs(), rxDoneUs_) + LineUs(n) : 0);
}

void RadioSimulator::Echo(const uint8_t* bytes, size_t n) {
    SendAt(bytes, n, baud_ ? std::max(NowUs(), rxDoneUs_) + LineUs(1) : 0);
}

uint64_t RadioSimulator::SendAt(const uint8_t* bytes, size_t n, uint64_t doneUs) {
    if (doneUs != 0) {
        const uint64_t now = NowUs();
        if (doneUs > now && WaitStop(static_cast<int>((doneUs - now + 999) / 1000)))
            return platform::TickMs();
    }
    // Taken before the write: the other side cannot have the bytes any sooner.
    const uint64_t startMs = platform::TickMs();
    size_t put = 0;
    while (put < n && !stopping_) {
        const ssize_t w = write(fd_, bytes + put, n - put);
        if (w > 0) {
            put += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            break;  // the line is gone; what was not written is lost, as on a real line
        pollfd p[2] = {{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
        if (poll(p, 2, -1) > 0 && (p[1].revents & POLLIN))
            stopping_ = true;
    }
    return startMs;
}

}  // namespace radio
