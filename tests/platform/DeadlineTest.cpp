#include "platform/Deadline.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"

using platform::Deadline;

namespace {
constexpr uint64_t kHour = 3600 * 1000;
}

TEST(Deadline, LimitsAndWhatIsLeft) {
    const uint64_t now = platform::TickMs();
    const Deadline never = Deadline::Never();
    EXPECT_FALSE(never.Limited());
    EXPECT_EQ(never.RemainingMs(), -1);
    EXPECT_FALSE(never.Passed());

    const Deadline passed = Deadline::At(now - 10, 5);
    EXPECT_TRUE(passed.Limited());
    EXPECT_EQ(passed.RemainingMs(), 0);
    EXPECT_TRUE(passed.Passed());
    EXPECT_TRUE(Deadline::In(0).Passed());

    const int hour = Deadline::In(kHour).RemainingMs();
    EXPECT_GT(hour, int(kHour - 60 * 1000));
    EXPECT_LE(hour, int(kHour));
    EXPECT_EQ(Deadline::In(uint64_t(1) << 40).RemainingMs(), 1 << 30) << "poll's limit";
}

TEST(Deadline, TransfersAndTheEarlierOfTwo) {
    EXPECT_FALSE(Deadline::ForTransfer(false, 10, 100, 5).Limited());
    const int transfer = Deadline::ForTransfer(true, 1000, 3600, 0).RemainingMs();  // 3600 s
    EXPECT_GT(transfer, int(kHour - 60 * 1000));
    EXPECT_LE(transfer, int(kHour));
    EXPECT_LE(Deadline::ForTransfer(true, 0, 100, 2 * kHour).RemainingMs(), int(2 * kHour));
    EXPECT_GT(Deadline::ForTransfer(true, 0, 100, 2 * kHour).RemainingMs(), int(kHour));

    const Deadline soon = Deadline::In(kHour), late = Deadline::In(2 * kHour);
    for (const Deadline& d : {soon.Earlier(late), late.Earlier(soon),
                              soon.Earlier(Deadline::Never()), Deadline::Never().Earlier(soon)}) {
        EXPECT_LE(d.RemainingMs(), int(kHour));
        EXPECT_GT(d.RemainingMs(), 0);
    }
    EXPECT_FALSE(Deadline::Never().Earlier(Deadline::Never()).Limited());
}
