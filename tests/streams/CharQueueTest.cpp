#include "streams/CharQueue.h"

#include <gtest/gtest.h>

#include <string>

using namespace streams;

TEST(CharQueue, KeepsOrderAcrossGrowthAndWrap) {
    CharQueue q(4, 100);
    EXPECT_EQ(q.Capacity(), 5u);
    // Wrap the read and write positions before growing, so the copy has to unwrap.
    for (char c : std::string("abc"))
        ASSERT_TRUE(q.Put(c));
    EXPECT_EQ(q.Get(), 'a');
    EXPECT_EQ(q.Get(), 'b');
    std::string in = "defghijklmnopqrstuvwxyz0123456789";
    for (char c : in)
        ASSERT_TRUE(q.Put(c));
    std::string out;
    for (int c; (c = q.Get()) != -1;)
        out += static_cast<char>(c);
    EXPECT_EQ(out, "c" + in);
    EXPECT_EQ(q.Capacity(), q.InitialCapacity()) << "empty queue shrinks back";
}

TEST(CharQueue, GrowsInStepsOfAtMost32UpToMaximum) {
    CharQueue q(80, 0xFFFF);
    EXPECT_EQ(q.Capacity(), 81u);
    size_t last = q.Capacity();
    size_t accepted = 0;
    while (q.Put('x')) {
        ++accepted;
        size_t cap = q.Capacity();
        ASSERT_LE(cap - last, 32u);
        last = cap;
    }
    EXPECT_EQ(q.Capacity(), 0xFFFFu);
    EXPECT_EQ(accepted, 0xFFFFu - 1) << "full at capacity - 1 once the maximum is reached";
    q.Clear();
    EXPECT_EQ(q.Count(), 0u);
    EXPECT_EQ(q.Capacity(), 81u);
}

TEST(CharQueue, MaximumNeverBelowInitialSize) {
    CharQueue q(10, 3);
    EXPECT_EQ(q.Maximum(), 11u);
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(q.Put('a'));
    EXPECT_FALSE(q.Put('a'));
}

TEST(CharQueue, ReadLineStopsAtDelimiterAndSize) {
    CharQueue q(8, 64);
    for (char c : std::string("ab\ncdefgh"))
        q.Put(c);
    char buf[16];
    EXPECT_EQ(q.ReadLine(buf, sizeof buf, '\n'), 2u);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(q.Get(), '\n');
    EXPECT_EQ(q.ReadLine(buf, 4, '\n'), 3u);
    EXPECT_STREQ(buf, "cde");
    EXPECT_EQ(q.Count(), 3u);
}
