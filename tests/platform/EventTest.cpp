#include "platform/Event.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

using platform::Event;

TEST(Event, AutoResetIsConsumedByOneWait) {
    Event e(Event::Reset::Auto);
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Set();  // two signals still make one
    EXPECT_TRUE(e.IsSignalled());
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, ManualResetStaysUntilReset) {
    Event e(Event::Reset::Manual, true);
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, WaitEndsWhenAnotherThreadSets) {
    Event e;
    std::thread t([&] { e.Set(); });
    EXPECT_TRUE(e.Wait(platform::kInfinite));
    t.join();
}

TEST(Event, WaitAnyReportsWhichInputWon) {
    Event a, b(Event::Reset::Manual);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(platform::WaitAny({&a, &b}, 0), platform::kWaitTimeout);
    b.Set();
    EXPECT_EQ(platform::WaitAny({&a, &b}, 0), 1);
    EXPECT_TRUE(b.IsSignalled()) << "a manual event is not consumed";
    b.Reset();
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    Event* events[] = {&a};
    int readFds[] = {fds[0]};
    EXPECT_EQ(platform::WaitAny(events, readFds, 1000), 1);
    a.Set();
    EXPECT_EQ(platform::WaitAny(events, readFds, 1000), 0) << "events come before descriptors";
    EXPECT_FALSE(a.IsSignalled()) << "an auto event that wins is consumed";
    close(fds[0]);
    close(fds[1]);
}
