#include "station/SerialCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "support/TempDir.h"

using station::SerialCounter;

namespace {

class SerialCounterTest : public ::testing::Test {
  protected:
    std::string Counter(const std::string& content) { return dir.Write("serial", content); }
    TempDir dir;
    std::string error;
};

}  // namespace

TEST_F(SerialCounterTest, CommitHandsOutTheNextNumber) {
    SerialCounter counter(Counter("41\n"));
    for (uint32_t expected : {41u, 42u}) {
        std::optional<SerialCounter::Lease> lease = counter.Take(error);
        ASSERT_TRUE(lease) << error;
        EXPECT_EQ(lease->Number(), expected);
        ASSERT_TRUE(lease->Commit(error)) << error;
        EXPECT_EQ(dir.Read("serial"), std::to_string(expected + 1) + "\n");
        EXPECT_FALSE(lease->Commit(error)) << "a number is committed once";
    }
}

TEST_F(SerialCounterTest, ALeaseDroppedWithoutCommitLeavesTheNumber) {
    SerialCounter counter(Counter("100"));
    {
        std::optional<SerialCounter::Lease> lease = counter.Take(error);
        ASSERT_TRUE(lease) << error;
        EXPECT_EQ(lease->Number(), 100u);
    }
    EXPECT_EQ(dir.Read("serial"), "100");
    std::optional<SerialCounter::Lease> again = counter.Take(error, nullptr, 100);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->Number(), 100u);
}

TEST_F(SerialCounterTest, ContentsThatAreOneNumberOfAtMost32Bits) {
    struct Case {
        std::string content;
        std::optional<uint32_t> number;  // none: refused
    };
    const Case cases[] = {
        {"0", 0u},
        {"7\n", 7u},
        {"007", 7u},
        {"4294967294\n", 4294967294u},
        {"", {}},
        {"\n", {}},
        {"abc", {}},
        {"12a", {}},
        {"-1", {}},
        {"+5", {}},
        {" 5", {}},
        {"5 ", {}},
        {"5\n\n", {}},
        {"5\r\n", {}},
        {"0x10", {}},
        {"1\n2\n", {}},
        {"4294967296", {}},
        {"18446744073709551617", {}},
        {std::string(300, '1'), {}},
    };
    for (const Case& c : cases) {
        const std::string path = Counter(c.content);
        std::optional<SerialCounter::Lease> lease = SerialCounter(path).Take(error, nullptr, 100);
        if (c.number) {
            ASSERT_TRUE(lease) << c.content << ": " << error;
            EXPECT_EQ(lease->Number(), *c.number);
            continue;
        }
        EXPECT_FALSE(lease) << c.content;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        const std::string shown = c.content.substr(0, c.content.find_first_of("\r\n"));
        if (c.content.size() < 256) {
            EXPECT_NE(error.find(shown), std::string::npos) << error;
        }
        EXPECT_EQ(dir.Read("serial"), c.content);
    }
}

TEST_F(SerialCounterTest, TheLastNumberAndAMissingFileAreErrors) {
    std::optional<SerialCounter::Lease> lease =
        SerialCounter(Counter("4294967295")).Take(error, nullptr, 100);
    EXPECT_FALSE(lease);
    EXPECT_NE(error.find("exhausted"), std::string::npos) << error;
    EXPECT_EQ(dir.Read("serial"), "4294967295");

    const std::string missing = dir.File("missing");
    EXPECT_FALSE(SerialCounter(missing).Take(error, nullptr, 100));
    EXPECT_NE(error.find(missing + ": no such counter file"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(missing));
}

// Two stations, each with threads of its own, never hand out a number twice.
TEST_F(SerialCounterTest, StationsSharingTheFileNeverRepeatANumber) {
    const std::string path = Counter("1000\n");
    SerialCounter stations[] = {SerialCounter(path), SerialCounter(path)};
    constexpr int kThreads = 4, kEach = 25;
    std::mutex mutex;
    std::vector<uint32_t> numbers;
    std::vector<std::string> errors;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            SerialCounter& counter = stations[t % 2];
            for (int i = 0; i < kEach; ++i) {
                std::string why;
                std::optional<SerialCounter::Lease> lease = counter.Take(why);
                if (lease)
                    platform::SleepMs(1);  // the radio being programmed, while others wait
                const bool ok = lease && lease->Commit(why);
                std::lock_guard lock(mutex);
                if (ok)
                    numbers.push_back(lease->Number());
                else
                    errors.push_back(why);
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(errors, std::vector<std::string>{});
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end())
        << "a number handed out twice";
    EXPECT_EQ(numbers.size(), size_t(kThreads * kEach));
    EXPECT_EQ(dir.Read("serial"), std::to_string(1000 + kThreads * kEach) + "\n");
}

TEST_F(SerialCounterTest, ATakeWhileAnotherHoldsTheLeaseTimesOut) {
    const std::string path = Counter("5");
    std::optional<SerialCounter::Lease> held = SerialCounter(path).Take(error);
    ASSERT_TRUE(held) << error;
    // Moved: the new owner holds the lock, the moved-from one must not release it.
    SerialCounter::Lease owner = std::move(*held);
    held.reset();
    error.clear();
    EXPECT_FALSE(SerialCounter(path).Take(error, nullptr, 100));
    EXPECT_NE(error.find("timed out"), std::string::npos) << error;
    ASSERT_TRUE(owner.Commit(error)) << error;
    std::optional<SerialCounter::Lease> next = SerialCounter(path).Take(error, nullptr, 100);
    ASSERT_TRUE(next) << error;
    EXPECT_EQ(next->Number(), 6u);
}

TEST_F(SerialCounterTest, ACancelEndsTheWait) {
    const std::string path = Counter("5");
    std::optional<SerialCounter::Lease> held = SerialCounter(path).Take(error);
    ASSERT_TRUE(held) << error;
    std::atomic<bool> cancel{false};
    std::string waiterError;
    bool taken = true;
    // The time-out is long: only the cancel can end this wait with "cancelled".
    std::thread waiter(
        [&] { taken = SerialCounter(path).Take(waiterError, &cancel, 20000).has_value(); });
    platform::SleepMs(50);
    cancel = true;
    waiter.join();
    EXPECT_FALSE(taken);
    EXPECT_NE(waiterError.find("cancelled"), std::string::npos) << waiterError;
}
