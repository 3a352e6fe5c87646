// The message queue: one list shared by every queue object, a per-object lock and flag.

#include <gtest/gtest.h>
#include <poll.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "corvex/Corvex.h"

namespace {

void* Buffer(unsigned char fill, size_t n = 4) {
    void* p = std::malloc(n);
    std::memset(p, fill, n);
    return p;
}

bool FlagReadable(CMessageQueue& q) {
    pollfd p{static_cast<int>(reinterpret_cast<intptr_t>(q.GetQueueFlag())), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

class QueueTest : public ::testing::Test {
  protected:
    void SetUp() override { q.RemoveAllMessages(); }
    void TearDown() override { q.RemoveAllMessages(); }
    CMessageQueue q;
};

TEST_F(QueueTest, FreshQueueIsEmpty) {
    EXPECT_EQ(q.GetMsgCount(), 0u);
    EXPECT_EQ(q.IsQueueFull(), 0);
    EXPECT_FALSE(FlagReadable(q));
    unsigned long len = 77;
    EXPECT_EQ(q.PeekMessageA(0, len), nullptr);
    EXPECT_EQ(len, 77u);
    EXPECT_EQ(q.GetFirstMessage(len), nullptr);
    EXPECT_EQ(len, 77u);
    EXPECT_EQ(q.IsMsgValid(0), 0);
}

TEST_F(QueueTest, AddReturnsTheNewIndexAndSetsTheFlag) {
    EXPECT_EQ(q.AddMessage(Buffer(1), 4), 0u);
    EXPECT_EQ(q.IsQueueFull(), 1);
    EXPECT_TRUE(FlagReadable(q));
    EXPECT_EQ(q.AddMessage(Buffer(2), 5), 1u);
    EXPECT_EQ(q.GetMsgCount(), 2u);
    EXPECT_EQ(q.IsMsgValid(1), 1);
    EXPECT_EQ(q.IsMsgValid(2), 0);
    unsigned long len = 0;
    auto* p = static_cast<unsigned char*>(q.PeekMessageA(1, len));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(p[0], 2);
    EXPECT_EQ(q.GetMsgCount(), 2u);  // peek leaves it
}

TEST_F(QueueTest, InsertAtZeroPutsItFirst) {
    q.AddMessage(Buffer(1), 4);
    q.AddMessage(Buffer(2), 4);
    void* first = Buffer(9);
    EXPECT_EQ(q.InsertMessage(first, 4, 0), 0u);
    unsigned long len;
    EXPECT_EQ(q.PeekMessageA(0, len), first);
    EXPECT_EQ(static_cast<unsigned char*>(q.PeekMessageA(2, len))[0], 2);
    // Past the end it appends.
    EXPECT_EQ(q.InsertMessage(Buffer(3), 4, 99), 3u);
}

TEST_F(QueueTest, TakingTheLastMessageClearsTheFlag) {
    q.AddSingleMessage(const_cast<char*>("abc"), 3);
    unsigned long len = 0;
    void* p = q.GetFirstMessage(len);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(len, 3u);
    EXPECT_EQ(std::memcmp(p, "abc", 3), 0);
    EXPECT_EQ(q.GetMsgCount(), 0u);
    EXPECT_EQ(q.IsQueueFull(), 0);
    EXPECT_FALSE(FlagReadable(q));
    std::free(p);
}

TEST_F(QueueTest, OrderIsFirstInFirstOut) {
    for (unsigned char i = 0; i < 10; ++i)
        q.AddSingleMessage(&i, 1);
    for (unsigned char i = 0; i < 10; ++i) {
        unsigned long len;
        auto* p = static_cast<unsigned char*>(q.GetFirstMessage(len));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(*p, i);
        std::free(p);
    }
}

TEST_F(QueueTest, DeleteKeepsBuffersRemoveFreesThem) {
    void* a = Buffer(1);
    void* b = Buffer(2);
    q.AddMessage(a, 4);
    q.AddMessage(b, 4);
    q.DeleteMessage(0);
    EXPECT_EQ(q.GetMsgCount(), 1u);
    q.DeleteAllMessages();
    EXPECT_EQ(q.GetMsgCount(), 0u);
    EXPECT_EQ(q.IsQueueFull(), 0);
    // Still ours (the leak checker would flag them if the queue had dropped them for good).
    EXPECT_EQ(static_cast<unsigned char*>(a)[0], 1);
    std::free(a);
    std::free(b);
    q.AddMessage(Buffer(3), 4);
    q.AddMessage(Buffer(4), 4);
    q.RemoveMessage(5);  // invalid: nothing
    EXPECT_EQ(q.GetMsgCount(), 2u);
    q.RemoveMessage(0);
    EXPECT_EQ(q.GetMsgCount(), 1u);
    q.RemoveAllMessages();
    EXPECT_EQ(q.GetMsgCount(), 0u);
    EXPECT_EQ(q.IsQueueFull(), 0);
}

TEST_F(QueueTest, NullEntriesAreNeverTakenOut) {
    q.AddMessage(nullptr, 0);
    unsigned long len = 5;
    EXPECT_EQ(q.GetMessageA(0, len), nullptr);
    EXPECT_EQ(q.GetFirstMessage(len), nullptr);
    q.RemoveMessage(0);
    EXPECT_EQ(q.GetMsgCount(), 1u);
    EXPECT_EQ(q.IsQueueFull(), 1);  // GetMessageA recomputed it: still not empty
    q.DeleteMessage(0);
    EXPECT_EQ(q.GetMsgCount(), 0u);
    q.AddMessage(nullptr, 0);
    q.AddMessage(nullptr, 0);
    q.DeleteAllMessages();
    EXPECT_EQ(q.GetMsgCount(), 0u);
}

TEST_F(QueueTest, TwoObjectsShareOneList) {
    CMessageQueue other;
    other.AddSingleMessage(const_cast<char*>("xy"), 2);
    EXPECT_EQ(q.GetMsgCount(), 1u);
    EXPECT_EQ(other.GetMsgCount(), 1u);
    // The flag belongs to the object that last changed the list.
    EXPECT_EQ(other.IsQueueFull(), 1);
    unsigned long len = 0;
    void* p = q.GetFirstMessage(len);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(len, 2u);
    std::free(p);
    EXPECT_EQ(other.GetMsgCount(), 0u);
}

TEST_F(QueueTest, DestroyingAnyObjectReleasesEveryMessage) {
    q.AddMessage(Buffer(1), 4);
    {
        CMessageQueue other;
        other.AddMessage(Buffer(2), 4);
    }
    EXPECT_EQ(q.GetMsgCount(), 0u);
}

TEST_F(QueueTest, LockIsRecursive) {
    q.BlockQueue();
    q.AddSingleMessage(const_cast<char*>("a"), 1);
    unsigned long len;
    std::free(q.GetFirstMessage(len));
    q.UnBlockQueue();
    EXPECT_EQ(q.GetMsgCount(), 0u);
}

TEST_F(QueueTest, ProducerAndConsumerThroughOneObject) {
    constexpr int kCount = 2000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i)
            q.AddSingleMessage(&i, sizeof i);
    });
    int next = 0;
    const int flag = static_cast<int>(reinterpret_cast<intptr_t>(q.GetQueueFlag()));
    while (next < kCount) {
        pollfd p{flag, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1)
            break;  // abort path only
        unsigned long len = 0;
        void* m = q.GetFirstMessage(len);
        if (!m)
            continue;
        int value;
        std::memcpy(&value, m, sizeof value);
        std::free(m);
        EXPECT_EQ(value, next);
        ++next;
    }
    producer.join();
    EXPECT_EQ(next, kCount);
}

TEST(CStringTest, Basics) {
    CString s = "0x0012ab34";
    EXPECT_EQ(s.GetLength(), 10);
    EXPECT_STREQ(s.Left(2), "0x");
    EXPECT_STREQ(s.Mid(2), "0012ab34");
    EXPECT_STREQ(s.Mid(4, 2), "12");
    EXPECT_STREQ(s.Mid(40), "");
    EXPECT_EQ(s.Left(2).CompareNoCase("0X"), 0);
    EXPECT_NE(s.CompareNoCase("0x"), 0);
    CString copy = s;
    char* buf = copy.GetBuffer(20);
    std::strcpy(buf, "abc");
    copy.ReleaseBuffer();
    EXPECT_EQ(copy.GetLength(), 3);
    EXPECT_STREQ(s, "0x0012ab34");
    EXPECT_STREQ(CString(std::string("hi")), "hi");
}

}  // namespace
