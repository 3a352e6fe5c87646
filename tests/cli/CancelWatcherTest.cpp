// The command line's interrupt watcher, in-process.

#include "cli/CancelWatcher.h"

#include <gtest/gtest.h>
#include <signal.h>
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
