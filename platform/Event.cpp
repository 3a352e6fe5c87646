#include "platform/Event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/Deadline.h"

namespace platform {

Event::Event(enum Reset mode, bool signalled) : mode_(mode) {
    fd_ = eventfd(signalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0)
        std::abort();  // no descriptors left: nothing sensible can go on
}

Event::~Event() {
    close(fd_);
}

void Event::Set() {
    uint64_t one = 1;
    // The counter saturates long before overflow matters; EAGAIN means already signalled.
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Event::Reset() {
    Consume();
}

bool Event::Consume() {
    uint64_t v;
    for (;;) {
        ssize_t r = read(fd_, &v, sizeof v);
        if (r == sizeof v)
            return true;
        if (r < 0 && errno == EINTR)
            continue;
        return false;
    }
}

bool Event::IsSignalled() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

bool Event::Wait(uint32_t ms) {
    Event* self = this;
    return WaitAny(std::span<Event* const>(&self, 1), {}, ms) == 0;
}

int WaitAny(std::initializer_list<Event*> events, uint32_t ms) {
    return WaitAny(std::span<Event* const>(events.begin(), events.size()), {}, ms);
}

int WaitAny(std::span<Event* const> events, std::span<const int> readFds, uint32_t ms) {
    std::vector<pollfd> fds;
    fds.reserve(events.size() + readFds.size());
    for (Event* e : events)
        fds.push_back({e->fd(), POLLIN, 0});
    for (int fd : readFds)
        fds.push_back({fd, POLLIN, 0});
    const Deadline deadline = ms == kInfinite ? Deadline::Never() : Deadline::In(ms);
    for (;;) {
        int r = poll(fds.data(), fds.size(), deadline.RemainingMs());
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return kWaitTimeout;
        }
        if (r == 0) {
            if (deadline.Passed())
                return kWaitTimeout;
            continue;  // a wait longer than one poll's limit
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (i < events.size()) {
                Event* e = events[i];
                if (e->TryWait())
                    return static_cast<int>(i);
                continue;  // another waiter took it: poll again
            }
            return static_cast<int>(i);
        }
    }
}

}  // namespace platform
