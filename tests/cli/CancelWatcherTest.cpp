// The command line's interrupt watcher, in-process.

#include "cli/CancelWatcher.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/Clock.h"

using namespace cli;

namespace {
bool WaitFor(const std::atomic<bool>& flag) {
    const uint64_t end = platform::TickMs() + 20000;  // only keeps a broken test from hanging
    while (!flag.load()) {
        if (platform::TickMs() > end)
            return false;
        platform::SleepMs(1);
    }
    return true;
}
}  // namespace

TEST(CancelWatcher, ClearingTheHandlerWaitsForARunningOne) {
    // The operation clears its handler and then destroys what the handler cancels (the port's
    // workers): a handler still running then would touch freed memory.
    CancelWatcher watcher;
    std::atomic<bool> entered{false}, release{false}, finished{false};
    watcher.SetHandler([&] {
        entered = true;
        WaitFor(release);
        finished = true;
    });
    ASSERT_EQ(kill(getpid(), SIGINT), 0);
    ASSERT_TRUE(WaitFor(entered));
    std::thread releaser([&] {
        platform::SleepMs(50);
        release = true;
    });
    watcher.SetHandler(nullptr);
    EXPECT_TRUE(finished.load());
    EXPECT_TRUE(watcher.Cancelled());
    releaser.join();
}

// A second interrupt right after the first (timeout(1) signals the process, then its group) is
// the same one; a later one ends the process at once, after its last wish.
TEST(CancelWatcher, ASecondInterruptEndsAtOnceUnlessItIsTheFirstAgain) {
    struct Case {
        uint32_t gapMs;
        int status;  // the child's exit status
        bool wished;
    };
    // Signals of one kind that are pending together are one; these come one after the other.
    for (const Case c : {Case{CancelWatcher::kSameInterruptMs / 4, 0, false},
                         Case{2 * CancelWatcher::kSameInterruptMs, 130, true}}) {
        SCOPED_TRACE(c.gapMs);
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipeFds[0]);
            std::atomic<int> handled{0};
            {
                CancelWatcher watcher;
                watcher.SetHandler([&] { ++handled; });
                watcher.SetLastWish([&] { (void)!write(pipeFds[1], "w", 1); });
                kill(getpid(), SIGINT);
                platform::SleepMs(c.gapMs);
                kill(getpid(), SIGTERM);
                platform::SleepMs(2 * CancelWatcher::kSameInterruptMs + 300);
                watcher.SetHandler(nullptr);
                watcher.SetLastWish(nullptr);
            }
            _exit(handled == 1 ? 0 : 3);
        }
        close(pipeFds[1]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        char mark = 0;
        const bool wished = read(pipeFds[0], &mark, 1) == 1;
        close(pipeFds[0]);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.status);
        EXPECT_EQ(wished, c.wished);
    }
}
