#include "srecord/SRecordWriter.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"
#include "srecord/SRecordTestUtil.h"

using namespace srecord;

using namespace srtest;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        size_t to = text.find("\r\n", from);
        EXPECT_NE(to, std::string::npos) << "line without CR LF";
        if (to == std::string::npos)
            break;
        lines.push_back(text.substr(from, to - from));
        from = to + 2;
    }
    return lines;
}

TEST(SRecordWriterTest, HeaderDataAndTerminationRecords) {
    TempFile f;
    SRecordWriter w;
    ASSERT_TRUE(w.Open(f.path(), "Saved from radio", "s2"));
    EXPECT_TRUE(w.WriteRecord(0x123456, Bytes{0xAB, 0xCD}.data(), 2));
    EXPECT_TRUE(w.Close(0));
    auto lines = Lines(f.Read());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "S013000053617665642066726F6D20726164696FF6");
    EXPECT_EQ(lines[1], "S206123456ABCDE5");
    EXPECT_EQ(lines[2], "S804000000FB");
}

TEST(SRecordWriterTest, S1DataRecordAndTerminations) {
    TempFile f;
    SRecordWriter w;
    ASSERT_TRUE(w.Open(f.path(), "x", "S1"));
    EXPECT_TRUE(w.WriteRecord(0x1000, Bytes{1, 2, 3, 4}.data(), 4));
    EXPECT_TRUE(w.Close(0));
    EXPECT_EQ(Lines(f.Read())[1], "S107100001020304DE");
    EXPECT_EQ(Lines(f.Read())[2], "S9030000FC");

    ASSERT_TRUE(w.Open(f.path(), "x", "S3"));
    EXPECT_TRUE(w.WriteRecord(0xFFFFFFF0, Bytes{0xEE}.data(), 1));
    EXPECT_TRUE(w.Close(0));
    auto lines = Lines(f.Read());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "S306FFFFFFF0EE1E");
    EXPECT_EQ(lines[2], "S70500000000FA");
}

TEST(SRecordWriterTest, OpenRefusals) {
    TempFile f;
    SRecordWriter w;
    EXPECT_FALSE(w.Open(f.path(), "", "S1"));
    EXPECT_FALSE(f.Exists());
    EXPECT_FALSE(w.Open(f.path(), nullptr, "S1"));
    EXPECT_FALSE(w.Open(f.path(), "hdr", "S4"));
    EXPECT_FALSE(w.Open(f.path(), "hdr", "S"));
    EXPECT_FALSE(w.Open(f.path(), "hdr", "S12"));
    EXPECT_FALSE(w.Open("", "hdr", "S1"));
    EXPECT_FALSE(w.Open(nullptr, "hdr", "S1"));
    EXPECT_FALSE(f.Exists());
    EXPECT_FALSE(w.Open("/nonexistent/dir/out.s19", "hdr", "S1"));
    EXPECT_FALSE(w.IsOpen());
    // A header longer than one line can carry.
    EXPECT_FALSE(w.Open(f.path(), std::string(123, 'h').c_str(), "S1"));
    EXPECT_FALSE(f.Exists());
    EXPECT_TRUE(w.Open(f.path(), std::string(122, 'h').c_str(), "S1"));
    EXPECT_TRUE(w.Close(0));
    ReadResult r = ImageReader::Read(f.path());
    ASSERT_TRUE(r);
    EXPECT_EQ(std::string(r.image->Header()), std::string(122, 'h'));
}

TEST(SRecordWriterTest, RecordsTheReaderWouldRejectAreRefused) {
    TempFile f;
    SRecordWriter w;
    uint8_t data[200] = {};
    EXPECT_FALSE(w.WriteRecord(0, data, 1));  // not open
    ASSERT_TRUE(w.Open(f.path(), "h", "S1"));
    EXPECT_EQ(w.MaxDataBytes(), 122);
    EXPECT_TRUE(w.WriteRecord(0xFFFF, data, 1));
    EXPECT_FALSE(w.WriteRecord(0x10000, data, 1));
    EXPECT_FALSE(w.WriteRecord(0, data, 123));
    EXPECT_FALSE(w.WriteRecord(0, data, -1));
    EXPECT_FALSE(w.WriteRecord(0, nullptr, 4));
    EXPECT_TRUE(w.WriteRecord(0, data, 122));
    // An entry address too wide for S9: no termination record, the file is still closed.
    EXPECT_FALSE(w.Close(0x12345));
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(Lines(f.Read()).size(), 3u);

    ASSERT_TRUE(w.Open(f.path(), "h", "S2"));
    EXPECT_EQ(w.MaxDataBytes(), 121);
    EXPECT_TRUE(w.WriteRecord(0xFFFFFF, data, 1));
    EXPECT_FALSE(w.WriteRecord(0x1000000, data, 1));
    EXPECT_FALSE(w.WriteRecord(0, data, 122));
    w.Discard();
    ASSERT_TRUE(w.Open(f.path(), "h", "S3"));
    EXPECT_EQ(w.MaxDataBytes(), 120);
    EXPECT_FALSE(w.WriteRecord(0, data, 121));
    EXPECT_TRUE(w.WriteRecord(0xFFFFFFFF, data, 1));
}

TEST(SRecordWriterTest, DiscardLeavesNoTermination) {
    TempFile f;
    {
        SRecordWriter w;
        ASSERT_TRUE(w.Open(f.path(), "h", "S1"));
        EXPECT_TRUE(w.WriteRecord(0x10, Seq(8).data(), 8));
        w.Discard();
        EXPECT_FALSE(w.IsOpen());
        EXPECT_FALSE(w.Close(0));  // nothing after Discard
        EXPECT_FALSE(w.WriteRecord(0x10, Seq(8).data(), 8));
    }
    auto lines = Lines(f.Read());
    ASSERT_EQ(lines.size(), 2u);
    // The reader takes the end of the file as the termination.
    ReadResult r = ImageReader::Read(f.path());
    ASSERT_TRUE(r);
    EXPECT_EQ(r.image->TotalLength(), 8u);
}

// Writes scattered data in records of up to 32 bytes, as a save does, and reads it back.
void RoundTrip(const char* type, uint32_t base, uint32_t spread) {
    TempFile f;
    std::mt19937 rng(static_cast<uint32_t>(base ^ spread));
    std::map<uint32_t, uint8_t> memory;
    SRecordWriter w;
    ASSERT_TRUE(w.Open(f.path(), "round trip", type));
    for (int range = 0; range < 20; ++range) {
        uint32_t start = base + static_cast<uint32_t>(rng() % spread);
        int len = 1 + static_cast<int>(rng() % 300);
        Bytes data(static_cast<size_t>(len));
        for (auto& b : data)
            b = static_cast<uint8_t>(rng());
        // Ranges may overlap in the address space; keep the last write of each address by
        // skipping ranges that touch earlier ones.
        bool clash = false;
        for (int i = -1; i <= len; ++i)
            clash |= memory.count(start + static_cast<uint32_t>(i)) > 0;
        if (clash)
            continue;
        for (int off = 0; off < len; off += 32) {
            int n = std::min(32, len - off);
            ASSERT_TRUE(w.WriteRecord(start + static_cast<uint32_t>(off), data.data() + off, n));
        }
        for (int i = 0; i < len; ++i)
            memory[start + static_cast<uint32_t>(i)] = data[static_cast<size_t>(i)];
    }
    ASSERT_TRUE(w.Close(0));

    ReadResult read = ImageReader::Read(f.path());
    ASSERT_TRUE(read) << read.error.code;
    const Image& image = *read.image;
    EXPECT_STREQ(image.Header(), "round trip");
    EXPECT_EQ(image.TotalLength(), memory.size());
    std::map<uint32_t, uint8_t> back;
    Bytes chunk(64);
    ChunkReader r(image);
    int n;
    while ((n = r.ReadChunk(chunk.data(), 64, 0)) > 0) {
        for (int i = 0; i < n; ++i)
            back[r.ChunkAddress() + static_cast<uint32_t>(i)] = chunk[static_cast<size_t>(i)];
    }
    EXPECT_EQ(back, memory);
    // Each written range is one run.
    uint32_t runBytes = 0;
    for (int i = 0; i < image.RunCount(); ++i)
        runBytes += image.Run(i).length;
    EXPECT_EQ(runBytes, memory.size());
}

TEST(SRecordWriterTest, RoundTripS1) {
    RoundTrip("S1", 0x0000, 0xF000);
}
TEST(SRecordWriterTest, RoundTripS2) {
    RoundTrip("S2", 0x10000, 0xEF0000);
}
TEST(SRecordWriterTest, RoundTripS3) {
    RoundTrip("S3", 0x80000000, 0x7FFF0000);
}

}  // namespace
