#include "cli/CancelWatcher.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Clock.h"

namespace cli {

namespace {
sigset_t Interrupts() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);  // a closed terminal cancels like Ctrl-C: files stay whole
    return set;
}
}  // namespace

CancelWatcher::CancelWatcher() : wakeFd_(eventfd(0, EFD_CLOEXEC)) {
    sigset_t set = Interrupts();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { Run(); });
}

CancelWatcher::~CancelWatcher() {
    uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
    thread_.join();
    close(wakeFd_);
}

void CancelWatcher::SetHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void CancelWatcher::SetLastWish(std::function<void()> wish) {
    std::lock_guard lock(lastWishMutex_);
    lastWish_ = std::move(wish);
}

void CancelWatcher::ExitNow() {
    {
        std::lock_guard lock(lastWishMutex_);
        if (lastWish_)
            lastWish_();
    }
    std::fflush(stderr);
    std::_Exit(130);
}

void CancelWatcher::Run() {
    sigset_t set = Interrupts();
    int sfd = signalfd(-1, &set, SFD_CLOEXEC);
    if (sfd < 0)
        return;
    for (;;) {
        pollfd p[2] = {{sfd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0)
            continue;
        if (p[1].revents & POLLIN)
            break;
        if (!(p[0].revents & POLLIN))
            continue;
        signalfd_siginfo info;
        if (read(sfd, &info, sizeof info) != sizeof info)
            continue;
        const uint64_t now = platform::TickMs();
        if (cancelled_.exchange(true)) {
            // timeout(1) and supervisors signal the process and then its group: that second
            // signal is the first one again.
            if (now - firstAt_ < kSameInterruptMs)
                continue;
            // A second interrupt (a user or a supervisor that insists): leave at once,
            // keeping what a rename can keep.
            ExitNow();
        }
        firstAt_ = now;
        // Run under the lock, so that SetHandler waits for a running handler: once it has
        // returned, whatever the handler cancels (the port and its workers) may go.
        std::lock_guard lock(mutex_);
        if (handler_)
            handler_();
        else
            ExitNow();  // nothing running that could be cancelled cleanly
    }
    close(sfd);
}

}  // namespace cli
