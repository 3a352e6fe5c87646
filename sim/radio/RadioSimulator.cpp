#include "sim/radio/RadioSimulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Clock.h"

namespace radio {
namespace {
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
    uint8_t buf[4096];
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

void RadioSimulator::Send(const uint8_t* bytes, size_t n) {
    if (baud_ != 0) {
        // 10 bits a byte on the line.
        const uint64_t us = uint64_t(n) * 10 * 1000000 / baud_;
        if (us > 0 && WaitStop(static_cast<int>((us + 999) / 1000)))
            return;
    }
    size_t put = 0;
    while (put < n && !stopping_) {
        const ssize_t w = write(fd_, bytes + put, n - put);
        if (w > 0) {
            put += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            return;  // the line is gone; what was not written is lost, as on a real line
        pollfd p[2] = {{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
        if (poll(p, 2, -1) > 0 && (p[1].revents & POLLIN))
            stopping_ = true;
    }
}

}  // namespace radio
