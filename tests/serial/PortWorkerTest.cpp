#include "serial/PortWorker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Clock.h"

using namespace serial;

namespace {
// A transfer that runs until aborted, or returns at once when its request says so.
int32_t BlockingTransfer(void* request, platform::Event& abort) {
    if (request && *static_cast<int*>(request) == 0)
        return 0;
    abort.Wait();
    return -1;
}
}  // namespace

TEST(PortWorker, RefusesBeforeStartAndAfterStop) {
    PortWorker w(BlockingTransfer);
    int quick = 0;
    int32_t result = 5;
    EXPECT_FALSE(w.Call(&quick, 100, result));
    ASSERT_TRUE(w.Start());
    EXPECT_TRUE(w.Call(&quick, platform::kInfinite, result));
    EXPECT_EQ(result, 0);
    w.Stop();
    EXPECT_FALSE(w.Call(&quick, 100, result));
}

TEST(PortWorker, SecondCallOnBusySlotIsRefusedAtOnce) {
    PortWorker w(BlockingTransfer);
    ASSERT_TRUE(w.Start());
    int forever = 1;
    int32_t first = 0;
    bool accepted = false;
    std::thread caller([&] { accepted = w.Call(&forever, platform::kInfinite, first); });
    while (w.IsIdle())
        platform::SleepMs(1);
    int quick = 0;
    int32_t second = 7;
    EXPECT_FALSE(w.Call(&quick, platform::kInfinite, second));
    EXPECT_EQ(second, 7) << "a refused call leaves its result alone";
    w.Abort();
    caller.join();
    EXPECT_TRUE(accepted);
    EXPECT_EQ(first, -1);
}

TEST(PortWorker, AbortBetweenRequestsDoesNotReachTheNext) {
    PortWorker w(
        [](void*, platform::Event& abort) -> int32_t { return abort.IsSignalled() ? -1 : 0; });
    ASSERT_TRUE(w.Start());
    w.Abort();
    int32_t result = 9;
    ASSERT_TRUE(w.Call(nullptr, platform::kInfinite, result));
    EXPECT_EQ(result, 0);
}

TEST(PortWorker, TimedCallAbortsAndWaitsForTheEnd) {
    PortWorker w(BlockingTransfer);
    ASSERT_TRUE(w.Start());
    int forever = 1;
    int32_t result = 0;
    ASSERT_TRUE(w.Call(&forever, 20, result));
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(w.IsIdle());
}

TEST(PortWorker, StopAbortsARequestThatNeverEnds) {
    std::atomic<int32_t> seen{1};
    PortWorker w(BlockingTransfer);
    ASSERT_TRUE(w.Start());
    int forever = 1;
    ASSERT_TRUE(w.PostWithCallback(&forever, [&](void*, int32_t r) { seen = r; }));
    w.Stop();  // would hang here if the abort did not reach the transfer
    EXPECT_EQ(seen.load(), -1);
    EXPECT_FALSE(w.IsRunning());
}

namespace {
struct RecordingTarget : platform::MessageTarget {
    std::atomic<uint32_t> message{0};
    std::atomic<intptr_t> w{0}, l{0};
    platform::Event got;
    void PostMessage(uint32_t m, intptr_t wp, intptr_t lp) override {
        message = m;
        w = wp;
        l = lp;
        got.Set();
    }
};
}  // namespace

TEST(PortWorker, CompletionByCallbackAndByMessage) {
    PortWorker w([](void*, platform::Event&) -> int32_t { return 0x8; });
    ASSERT_TRUE(w.Start());
    platform::Event called;
    void* seenRequest = nullptr;
    int32_t seenResult = 0;
    int req = 0;
    ASSERT_TRUE(w.PostWithCallback(&req, [&](void* r, int32_t result) {
        seenRequest = r;
        seenResult = result;
        called.Set();
    }));
    ASSERT_TRUE(called.Wait(5000));
    EXPECT_EQ(seenRequest, &req);
    EXPECT_EQ(seenResult, 0x8);
    // An empty function keeps the previous one.
    while (!w.IsIdle())
        platform::SleepMs(1);
    ASSERT_TRUE(w.PostWithCallback(&req, nullptr));
    ASSERT_TRUE(called.Wait(5000));

    RecordingTarget target;
    while (!w.IsIdle())
        platform::SleepMs(1);
    ASSERT_TRUE(w.PostWithMessage(&req, &target));
    ASSERT_TRUE(target.got.Wait(5000));
    EXPECT_EQ(target.message.load(), PortWorker::kDefaultNotifyMessage);
    EXPECT_EQ(target.w.load(), 0x8);
    EXPECT_EQ(target.l.load(), reinterpret_cast<intptr_t>(&req));
}

namespace {
struct CountingPump : platform::MessagePump {
    int rounds = 0;
    bool PumpUntil(platform::Event& done, uint32_t ms) override {
        uint64_t end = platform::TickMs() + ms;
        while (!done.IsSignalled()) {
            ++rounds;
            if (ms != platform::kInfinite && platform::TickMs() >= end)
                return false;
            platform::SleepMs(1);
        }
        return true;
    }
};
}  // namespace

TEST(PortWorker, PumpingCallDispatchesWhileWaiting) {
    PortWorker w([](void*, platform::Event& abort) -> int32_t {
        abort.Wait(30);
        return 0;
    });
    ASSERT_TRUE(w.Start());
    CountingPump pump;
    int32_t result = 1;
    ASSERT_TRUE(w.CallPumping(nullptr, platform::kInfinite, result, &pump));
    EXPECT_EQ(result, 0);
    EXPECT_GT(pump.rounds, 0);
    EXPECT_TRUE(w.IsIdle());
}

TEST(PortWorker, AttemptOnCallersThreadServesOrHandsOn) {
    struct Case {
        bool attemptServes;
        int32_t result;
        int transfers;
    };
    for (const Case c : {Case{true, 0, 0}, Case{false, 0x8, 1}}) {
        std::atomic<int> transfers{0};
        PortWorker w([&](void*, platform::Event&) -> int32_t {
            ++transfers;
            return 0x8;
        });
        ASSERT_TRUE(w.Start());
        int attempts = 0;
        int32_t result = 5;
        ASSERT_TRUE(w.CallPumping(nullptr, platform::kInfinite, result, nullptr, [&] {
            ++attempts;
            return c.attemptServes;
        }));
        EXPECT_EQ(attempts, 1);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(transfers.load(), c.transfers);
        EXPECT_TRUE(w.IsIdle());
    }
}

TEST(PortWorker, BusySlotRefusesBeforeTheAttempt) {
    PortWorker w(BlockingTransfer);
    ASSERT_TRUE(w.Start());
    int forever = 1;
    ASSERT_TRUE(w.PostWithCallback(&forever, [](void*, int32_t) {}));
    bool attempted = false;
    int32_t result = 5;
    EXPECT_FALSE(w.CallPumping(nullptr, platform::kInfinite, result, nullptr, [&] {
        attempted = true;
        return true;
    }));
    EXPECT_FALSE(attempted);
    EXPECT_EQ(result, 5);
}

TEST(PortWorker, StopEndsACallWaitingWithoutLimit) {
    PortWorker w(BlockingTransfer);
    ASSERT_TRUE(w.Start());
    int forever = 1;
    int32_t result = 0;
    std::thread caller([&] { EXPECT_TRUE(w.Call(&forever, platform::kInfinite, result)); });
    while (w.IsIdle())
        platform::SleepMs(1);
    w.Stop();  // would hang here if the abort did not reach the waiting call
    caller.join();
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(w.IsRunning());
}
