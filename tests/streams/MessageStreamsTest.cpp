#include "streams/MessageStreams.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iomanip>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "streams/ConsoleBuffer.h"
#include "streams/MessageBoxBuffer.h"
#include "streams/MessagePresenter.h"

using namespace streams;

using ::testing::ElementsAre;

TEST(MsgBoxBuf, OneBoxPerLineWithCaption) {
    RecordingPresenter p;
    MessageBoxBuffer buf("ZIMPProtocol", &p);
    std::ostream out(&buf);
    out << "abc" << '\n';
    out << '\n';  // a bare line end shows nothing
    out << "first\rsecond\n";
    ASSERT_EQ(p.Boxes().size(), 2u);
    EXPECT_EQ(p.Boxes()[0].text, "abc");
    EXPECT_EQ(p.Boxes()[0].caption, "ZIMPProtocol");
    EXPECT_EQ(p.Boxes()[1].text, "first\rsecond");
}

TEST(MsgBoxBuf, FlushShowsPartialLine) {
    RecordingPresenter p;
    MessageBoxBuffer buf("ZIMPProtocol", &p);
    std::ostream out(&buf);
    out << "abc";
    EXPECT_TRUE(p.Boxes().empty());
    out.flush();
    EXPECT_THAT(p.Texts(), ElementsAre("abc"));
    out.flush();  // nothing pending: no second box
    EXPECT_EQ(p.Boxes().size(), 1u);
}

TEST(MsgBoxBuf, LongMessageGrowsQueueAndShrinksAfterBox) {
    RecordingPresenter p;
    MessageBoxBuffer buf("ZIMPProtocol", &p);
    std::ostream out(&buf);
    std::string text(200, 'm');
    out << text;
    EXPECT_GT(buf.Queue().Capacity(), 81u);
    EXPECT_LE(buf.Queue().Capacity(), 81u + 32u * 4);
    out << '\n';
    EXPECT_EQ(buf.Queue().Capacity(), 81u);
    EXPECT_THAT(p.Texts(), ElementsAre(text));
}

TEST(MsgBoxBuf, OverlongLineMakesStreamBadUntilShown) {
    RecordingPresenter p;
    MessageBoxBuffer buf("ZIMPProtocol", &p);
    std::ostream out(&buf);
    out << std::string(70000, 'z');
    EXPECT_TRUE(out.bad());
    out.clear();
    out << '\n';
    ASSERT_EQ(p.Boxes().size(), 1u);
    EXPECT_EQ(p.Boxes()[0].text.size(), 0xFFFFu - 1);
    out << "next\n";
    EXPECT_EQ(p.Boxes().back().text, "next");
}

TEST(MessageStream, FormattingPersistsBetweenMessages) {
    RecordingPresenter p;
    SetMessagePresenter(&p);
    msgout() << std::hex << std::uppercase << 255 << '\n';
    msgout() << 171 << '\n';
    msgout() << std::dec << std::nouppercase;
    SetMessagePresenter(nullptr);
    EXPECT_THAT(p.Texts(), ElementsAre("FF", "AB"));
}

TEST(MessageStream, LinesFromSeveralThreadsNeverInterleave) {
    RecordingPresenter p;
    SetMessagePresenter(&p);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                msgout() << "thread " << t << " line " << i << " end" << '\n';
        });
    }
    for (auto& th : threads)
        th.join();
    SetMessagePresenter(nullptr);
    auto texts = p.Texts();
    ASSERT_EQ(texts.size(), 800u);
    for (const auto& s : texts) {
        int t, i;
        char tail[8] = {};
        ASSERT_EQ(std::sscanf(s.c_str(), "thread %d line %d %3s", &t, &i, tail), 3) << s;
        EXPECT_STREQ(tail, "end");
    }
}

namespace {
struct RecordingSink : LogSink {
    std::string title, text;
    void SetTitle(const char* t) override { title = t; }
    bool Put(char ch) override {
        text += ch;
        return true;
    }
};
}  // namespace

TEST(LogStream, GoesNowhereUntilAttached) {
    RecordingSink sink;
    logout() << "lost\n";
    EXPECT_FALSE(LogAttached());
    AttachLogSink(&sink);
    logout() << "Start application logout.\n" << std::hex << 0x4e << '\n';
    AttachLogSink(nullptr);
    logout() << "lost again\n";
    EXPECT_EQ(sink.title, "ZIMPProtocol Log");
    EXPECT_EQ(sink.text, "Start application logout.\n4e\n");
}

TEST(LogStream, ConsoleStartsWithItsFirstLine) {
    RecordingSink sink;
    StartLogConsole(&sink);
    logout() << "next\n";
    AttachLogSink(nullptr);
    EXPECT_EQ(sink.title, "ZIMPProtocol Log");
    EXPECT_EQ(sink.text, "Start application logout.\nnext\n");
}

TEST(OutOfMemory, ReportsContextThenExitsWithStatusOne) {
    EXPECT_EXIT(
        {
            SetMessagePresenter(nullptr);  // stderr presenter
            ReportOutOfMemory("Serial Port", true);
        },
        ::testing::ExitedWithCode(1), "Serial Port  Out of memory");
    ReportOutOfMemory("Serial Port", false);  // not failed: returns
    SUCCEED();
}

// A heap that is always exhausted, for this type alone.
struct Unallocatable {
    static void* operator new(size_t, const std::nothrow_t&) noexcept { return nullptr; }
    static void* operator new[](size_t, const std::nothrow_t&) noexcept { return nullptr; }
    static void operator delete(void*) noexcept {}
    static void operator delete[](void*) noexcept {}
    int value = 7;
};

TEST(OutOfMemory, AllocationHelpersReportTheirContext) {
    EXPECT_EXIT(
        {
            SetMessagePresenter(nullptr);
            NewOrExit<Unallocatable>("ZIMPApplication");
        },
        ::testing::ExitedWithCode(1), "ZIMPApplication  Out of memory");
    EXPECT_EXIT(
        {
            SetMessagePresenter(nullptr);
            NewArrayOrExit<Unallocatable>("pChar Class", 4);
        },
        ::testing::ExitedWithCode(1), "pChar Class  Out of memory");
    std::unique_ptr<int> one(NewOrExit<int>("ZIMP", 5));
    EXPECT_EQ(*one, 5);
    std::unique_ptr<char[]> many(NewArrayOrExit<char>("pChar Class", 3));
    EXPECT_NE(many.get(), nullptr);
}

// The record of an operation holds what its boxes said; the boxes still reach the user.
TEST(TeePresenter, KeepsEveryTextAndPassesTheBoxOn) {
    RecordingPresenter user;
    TeePresenter tee;
    tee.SetNext(&user);
    MessagePresenter* before = SetMessagePresenter(&tee);
    msgout() << "Cannot open port /dev/x:\rheld by another program.\n";
    msgout() << "File was not loaded.\n";
    EXPECT_EQ(tee.TakeText(),
              "Cannot open port /dev/x: held by another program.; File was not loaded.");
    EXPECT_EQ(tee.TakeText(), "");
    EXPECT_EQ(SetMessagePresenter(before), &tee);
    EXPECT_EQ(user.Texts().size(), 2u);
}
