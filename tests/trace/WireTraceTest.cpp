#include "trace/WireTrace.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "support/TempDir.h"
#include "trace/TraceSummary.h"

using namespace trace;

namespace {
// The trace lines of a file, parsed.
std::vector<TraceLine> Lines(const std::string& text) {
    std::vector<TraceLine> lines;
    std::istringstream in(text);
    std::string line;
    for (size_t n = 1; std::getline(in, line); ++n)
        if (auto l = ParseTraceLine(line, n))
            lines.push_back(*l);
    return lines;
}
const uint8_t kStatus[] = {0xF1, 0x14, 0xFA};
}  // namespace

// Named runs are frames; runs nobody names end as "raw" when the other side speaks or the
// trace ends, and every byte is in the file.
TEST(WireTrace, NamedFramesAndRawRunsWithEveryByte) {
    TempDir dir;
    WireTrace t;
    ASSERT_EQ(t.Open(dir.File("t.trace")), "");
    t.Bytes(Direction::Sent, kStatus, 2);
    t.Bytes(Direction::Sent, kStatus + 2, 1);
    t.Label(Direction::Sent, "request " + RequestName(kStatus, 3));
    const uint8_t ack = 0x50;
    t.Bytes(Direction::Received, &ack, 1);
    t.Label(Direction::Received, "ack");
    const uint8_t boot[] = {0xFF, 0x01};
    t.Bytes(Direction::Sent, boot, 2);
    t.Bytes(Direction::Received, boot + 1, 1);  // the other side speaks: the run ends
    t.Label(Direction::Sent, "never");          // nothing open any more
    ASSERT_EQ(t.Close(), "");
    const auto lines = Lines(dir.Read("t.trace"));
    ASSERT_EQ(lines.size(), 4u) << dir.Read("t.trace");
    const struct {
        Direction d;
        const char* what;
        size_t count;
        const char* bytes;
    } expected[] = {{Direction::Sent, "request Status", 3, "F1 14 FA"},
                    {Direction::Received, "ack", 1, "50"},
                    {Direction::Sent, "raw", 2, "FF 01"},
                    {Direction::Received, "raw", 1, "01"}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i].direction, expected[i].d) << i;
        EXPECT_EQ(lines[i].what, expected[i].what) << i;
        EXPECT_EQ(lines[i].count, expected[i].count) << i;
        EXPECT_EQ(lines[i].bytes, expected[i].bytes) << i;
        if (i > 0) {
            EXPECT_GE(lines[i].us, lines[i - 1].us);
        }
    }
}

TEST(WireTrace, NamesOfRequestsAndReplies) {
    const uint8_t write[] = {0xFF, 0x17, 0, 5};
    const uint8_t other[] = {0xF1, 0x20};
    EXPECT_EQ(RequestName(write, 4), "Write Data");
    EXPECT_EQ(RequestName(other, 2), "F1 20");
    EXPECT_EQ(ReplyName(0xF484), "Written");
    EXPECT_EQ(ReplyName(0xF485), "Bad Write");
    EXPECT_EQ(ReplyName(0x1234), "12 34");
}

TEST(TraceSummary, LinesThatAreNotTraceLines) {
    const char* bad[] = {"",
                         "# comment",
                         "12.5 > x (1): 00",
                         "1.000000 ? x (1): 00",
                         "1.000000 > x (one): 00",
                         "1.000000 > (1): 00",
                         "garbage"};
    for (const char* b : bad)
        EXPECT_FALSE(ParseTraceLine(b, 1)) << b;
    const auto good = ParseTraceLine("  12.000345 < reply Read (3): FF 80 00", 7);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->us, 12000345u);
    EXPECT_EQ(good->what, "reply Read");
    EXPECT_EQ(good->number, 7u);
}

// A retry is a request sent again as it was; the longest wait is the one before an answer.
TEST(TraceSummary, RetriesNaksBytesAndTheLongestWait) {
    const std::string text =
        "# zimp wire trace\n"
        "   0.000100 > request Write Data (5): FF 17 00 01 02\n"
        "   0.000900 < NAK (1): 4E\n"
        "   0.001000 > request Write Data (5): FF 17 00 01 02\n"
        "   0.001500 < ack (1): 50\n"
        "   0.301500 < reply Written (3): F4 84 87\n"
        "   0.400000 > request Status (3): F1 14 FA\n"
        "   0.900000 < ack (1): 50\n"
        "not a trace line\n";
    std::istringstream in(text);
    std::ostringstream out;
    ASSERT_TRUE(ShowTrace(in, out));
    const std::string shown = out.str();
    for (const char* want : {"frames: 4 (3 requests, 1 replies), 2 acks, 1 NAKs", "retries: 1\n",
                             "bytes: 13 sent, 6 received\n",
                             "longest wait: 500.000 ms for \"ack\" at 0.900000 s (line 8), after "
                             "\"request Status\"",
                             "+   300.000 ms  0.301500 < reply Written (3): F4 84 87",
                             "lines that are not trace lines: 1"})
        EXPECT_NE(shown.find(want), std::string::npos) << want << "\nin\n" << shown;
    std::istringstream empty("# nothing\n");
    EXPECT_FALSE(ShowTrace(empty, out));
}

// A line that never ends is skipped under the limit, not read into memory whole.
TEST(TraceSummary, OverlongLineIsSkipped) {
    std::string text(5000, 'x');
    text += "\n   0.000001 > raw (1): 00\n";
    std::istringstream in(text);
    std::ostringstream out;
    ASSERT_TRUE(ShowTrace(in, out, 1000));
    EXPECT_NE(out.str().find("lines that are not trace lines: 1"), std::string::npos);
}

// The port's reader and writer threads trace at once; no line is torn or lost.
TEST(WireTrace, SeveralThreadsKeepWholeLines) {
    TempDir dir;
    WireTrace t;
    ASSERT_EQ(t.Open(dir.File("t.trace")), "");
    std::vector<std::thread> threads;
    for (int k = 0; k < 2; ++k)
        threads.emplace_back([&t, k] {
            const Direction d = k ? Direction::Received : Direction::Sent;
            for (int i = 0; i < 500; ++i) {
                t.Bytes(d, kStatus, 3);
                t.Label(d, "frame");
            }
        });
    for (auto& th : threads)
        th.join();
    ASSERT_EQ(t.Close(), "");
    size_t frames = 0, bytes = 0;
    for (const TraceLine& l : Lines(dir.Read("t.trace"))) {
        frames += l.what == "frame";
        bytes += l.count;
    }
    EXPECT_EQ(bytes, 3000u);  // every byte, in frames or in runs the other side ended
    EXPECT_GT(frames, 0u);
}

// A trace that cannot be written says why, and the transfer goes on.
TEST(WireTrace, UnwritableTraceSaysWhy) {
    WireTrace t;
    EXPECT_NE(t.Open("/nonexistent-dir/t.trace"), "");
    EXPECT_FALSE(t.IsOpen());
    t.Bytes(Direction::Sent, kStatus, 3);  // ignored
    EXPECT_EQ(t.Close(), "");
    WireTrace full;
    ASSERT_EQ(full.Open("/dev/full"), "");  // a device: written into at the end
    full.Bytes(Direction::Sent, kStatus, 3);
    EXPECT_NE(full.Close(), "");
}
