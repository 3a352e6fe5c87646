#include <gtest/gtest.h>

#include <ios>
#include <optional>

#include "lzrw3a/lzrw3a.h"
#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"
#include "srecord/SRecordTestUtil.h"
#include "streams/MessagePresenter.h"
#include "streams/MessageStreams.h"

using namespace streams;

using namespace srecord;

using namespace lzrw3a;

using namespace srtest;

namespace {

struct Chunk {
    uint32_t address;
    Bytes bytes;
    bool operator==(const Chunk&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Chunk& c) {
    os << std::hex << "{0x" << c.address << ":";
    for (auto b : c.bytes)
        os << ' ' << static_cast<int>(b);
    return os << std::dec << "}";
}

// Records of at most 32 bytes for data at address.
std::string Records(uint32_t address, const Bytes& data, const std::string& type = "S1") {
    std::string s;
    for (size_t i = 0; i < data.size(); i += 32) {
        Bytes part(data.begin() + static_cast<long>(i),
                   data.begin() + static_cast<long>(std::min(data.size(), i + 32)));
        s += Rec(type, address + static_cast<uint32_t>(i), part) + "\r\n";
    }
    return s;
}

class ImageTest : public ::testing::Test {
  protected:
    void SetUp() override { SetMessagePresenter(&presenter_); }
    void TearDown() override { SetMessagePresenter(nullptr); }

    void OpenText(const std::string& text, int alignment) {
        file_.Write(text);
        result_ = ImageReader::Read(file_.path());
        alignment_ = alignment < 1 ? 1u : static_cast<uint32_t>(alignment);
        reader_.reset();
        ASSERT_TRUE(result_) << result_.error.code;
    }
    Image& image() { return *result_.image; }
    // The reading of the image, made at its first use: after any checksum table is added.
    ChunkReader& reader() {
        if (!reader_)
            reader_.emplace(*result_.image, alignment_);
        return *reader_;
    }
    // Every chunk until ReadChunk stops delivering.
    std::vector<Chunk> Chunks(int len, uint8_t fill) {
        std::vector<Chunk> out;
        for (int guard = 0; guard < 10000; ++guard) {
            Bytes b(static_cast<size_t>(len));
            int n = reader().ReadChunk(b.data(), len, fill);
            if (n <= 0)
                break;
            b.resize(static_cast<size_t>(n));
            out.push_back({reader().ChunkAddress(), b});
        }
        return out;
    }

    RecordingPresenter presenter_;
    TempFile file_;
    ReadResult result_;
    uint32_t alignment_ = 1;
    std::optional<ChunkReader> reader_;
};

TEST_F(ImageTest, RunsAreSortedOutOfFileOrder) {
    Bytes low = Seq(16, 0x10), high = Seq(16, 0x80);
    OpenText(Records(0x1010, high) + Records(0x1000, low), 1);
    ASSERT_EQ(image().BlockCount(), 2);
    EXPECT_EQ(image().Block(0).start, 0x1000u);
    EXPECT_EQ(image().Block(0).kind, 1);
    EXPECT_EQ(image().Block(0).line, 2);
    EXPECT_EQ(image().Block(1).start, 0x1010u);
    EXPECT_EQ(image().Block(1).kind, 3);
    ASSERT_EQ(image().RunCount(), 1);
    uint32_t sum = 0;
    for (auto b : low)
        sum += b;
    for (auto b : high)
        sum += b;
    EXPECT_EQ(image().Run(0).start, 0x1000u);
    EXPECT_EQ(image().Run(0).length, 32u);
    EXPECT_EQ(image().Run(0).sum, sum);
    Bytes both = low;
    both.insert(both.end(), high.begin(), high.end());
    EXPECT_EQ(Chunks(64, 0xFF), (std::vector<Chunk>{{0x1000, both}}));
    EXPECT_TRUE(presenter_.Texts().empty());
}

TEST_F(ImageTest, KindsAndRunSummary) {
    // Three runs: a lone block, a run of three blocks, and a run of two.
    std::string text = Records(0x500, Seq(4)) + Records(0x100, Seq(8)) + Records(0x300, Seq(2)) +
                       Records(0x200, Seq(4)) + Records(0x208, Seq(4)) + Records(0x204, Seq(4)) +
                       Records(0x302, Seq(1));
    OpenText(text, 1);
    std::vector<int> kinds;
    for (int i = 0; i < image().BlockCount(); ++i)
        kinds.push_back(image().Block(i).kind);
    // Sorted: 0x100 | 0x200 0x204 0x208 | 0x300 0x302 | 0x500.
    EXPECT_EQ(image().Block(0).start, 0x100u);
    ASSERT_EQ(image().RunCount(), 4);
    EXPECT_EQ(image().Run(0).start, 0x100u);
    EXPECT_EQ(image().Run(1).start, 0x200u);
    EXPECT_EQ(image().Run(1).length, 12u);
    EXPECT_EQ(image().Run(2).start, 0x300u);
    EXPECT_EQ(image().Run(2).length, 3u);
    EXPECT_EQ(image().Run(3).start, 0x500u);
    EXPECT_EQ(kinds, (std::vector<int>{3, 1, 2, 3, 1, 3, 3}));
    EXPECT_EQ(image().TotalLength(), 8u + 12u + 3u + 4u);
    EXPECT_EQ(image().FirstAddress(), 0x100u);
    EXPECT_EQ(image().EndAddress(), 0x504u);
}

TEST_F(ImageTest, CrossingBlocksWarnAndAreBothDelivered) {
    OpenText(Records(0x0000, Seq(16)) + Records(0x0008, Seq(16, 0x40)), 1);
    ASSERT_EQ(presenter_.Texts().size(), 1u);
    EXPECT_EQ(presenter_.Texts()[0],
              "Warning!!!\r There are crossing of two blocks.\rEnd Address of the block is "
              "16,\rbut the following block starts from 8");
    ASSERT_EQ(image().BlockCount(), 2);
    EXPECT_EQ(Chunks(64, 0xFF), (std::vector<Chunk>{{0x0000, Seq(16)}, {0x0008, Seq(16, 0x40)}}));
}

TEST_F(ImageTest, CrossingWarningUsesTheStreamBase) {
    msgout() << std::hex;
    OpenText(Records(0x1000, Seq(0x20)) + Records(0x1010, Seq(0x20)), 1);
    msgout() << std::dec;
    ASSERT_EQ(presenter_.Texts().size(), 1u);
    EXPECT_NE(presenter_.Texts()[0].find("is 1020,\rbut the following block starts from 1010"),
              std::string::npos);
}

TEST_F(ImageTest, AlignmentFourFillsSmallGaps) {
    OpenText(Records(0x1002, {0xD1, 0xD2, 0xD3}) + Records(0x1006, {0xD4}), 4);
    EXPECT_EQ(Chunks(64, 0xFF),
              (std::vector<Chunk>{{0x1000, {0xFF, 0xFF, 0xD1, 0xD2, 0xD3, 0xFF, 0xD4, 0xFF}}}));
    EXPECT_TRUE(reader().Exhausted());
    Bytes b(8);
    EXPECT_EQ(reader().ReadChunk(b.data(), 8, 0xFF), -1);
}

TEST_F(ImageTest, AlignmentFourEndsChunkAtLargeGap) {
    OpenText(Records(0x1000, {1, 2, 3}) + Records(0x1010, {4}), 4);
    EXPECT_EQ(Chunks(64, 0xFF),
              (std::vector<Chunk>{{0x1000, {1, 2, 3, 0xFF}}, {0x1010, {4, 0xFF, 0xFF, 0xFF}}}));
}

TEST_F(ImageTest, AlignmentOneCutsRunsIntoChunks) {
    OpenText(Records(0x400, Seq(40)), 1);
    Bytes b(16);
    EXPECT_EQ(reader().ReadChunk(b.data(), 16, 0), 16);
    EXPECT_EQ(reader().ChunkAddress(), 0x400u);
    EXPECT_EQ(reader().ReadChunk(b.data(), 16, 0), 16);
    EXPECT_EQ(reader().ChunkAddress(), 0x410u);
    EXPECT_EQ(reader().ReadChunk(b.data(), 16, 0), 8);
    EXPECT_EQ(reader().ChunkAddress(), 0x420u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), Seq(8, 32));
    EXPECT_EQ(reader().ReadChunk(b.data(), 16, 0), -1);
}

TEST_F(ImageTest, ChunkNeverCrossesIntoNextRun) {
    OpenText(Records(0x10, Seq(4)) + Records(0x15, Seq(4, 4)), 1);
    EXPECT_EQ(Chunks(64, 0xFF), (std::vector<Chunk>{{0x10, Seq(4)}, {0x15, Seq(4, 4)}}));
}

TEST_F(ImageTest, AlignmentLargerThanChunk) {
    // Units of 16 bytes, chunks of 8: the unit is split, the start filled.
    OpenText(Records(0x100C, {1, 2, 3, 4}), 16);
    EXPECT_EQ(Chunks(8, 0xFF),
              (std::vector<Chunk>{{0x1000, Bytes(8, 0xFF)},
                                  {0x1008, {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4}}}));
}

TEST_F(ImageTest, UnitLeftOpenIsCompletedWithFill) {
    // A chunk limit in the middle of a unit leaves it open; the next chunk closes it with fill
    // when the next data is a unit or more away, else pads within the chunk.
    OpenText(Records(0x2000, Seq(4)) + Records(0x2100, Seq(6)), 8);
    EXPECT_EQ(Chunks(4, 0xFF), (std::vector<Chunk>{{0x2000, Seq(4)},
                                                   {0x2004, Bytes(4, 0xFF)},
                                                   {0x2100, Seq(4)},
                                                   {0x2104, {4, 5, 0xFF, 0xFF}}}));
}

TEST_F(ImageTest, AlignmentBelowOneCountsAsOne) {
    OpenText(Records(0x11, Seq(3)), 0);
    EXPECT_EQ(reader().Alignment(), 1u);
    EXPECT_EQ(Chunks(16, 0xFF), (std::vector<Chunk>{{0x11, Seq(3)}}));
    OpenText(Records(0x11, Seq(3)), -7);
    EXPECT_EQ(reader().Alignment(), 1u);
}

TEST_F(ImageTest, HeaderAndTerminationOnly) {
    OpenText(Rec("S0", 0, {'h'}) + "\n" + "S9030000FC\n", 1);
    EXPECT_EQ(image().BlockCount(), 1);
    EXPECT_EQ(image().Block(0).kind, 0);
    EXPECT_EQ(image().TotalLength(), 0u);
    EXPECT_EQ(image().RunCount(), 0);
    EXPECT_FALSE(reader().SeekBlock(0));
    Bytes b(16);
    EXPECT_EQ(reader().ReadChunk(b.data(), 16, 0), 0);
    EXPECT_TRUE(reader().Exhausted());
    EXPECT_EQ(reader().ReadChunk(b.data(), 16, 0), -1);
}

Bytes SumOf0x1234() {
    Bytes data(0x100, 0);
    for (int i = 0; i < 18; ++i)
        data[static_cast<size_t>(i) * 7] = 0xFF;
    data[200] = 0x46;
    return data;
}

TEST_F(ImageTest, ChecksumTableAtEndAddress) {
    Bytes data = SumOf0x1234();
    OpenText(Records(0x2000, data), 1);
    ASSERT_EQ(image().Run(0).sum, 0x1234u);
    EXPECT_TRUE(image().AddChecksumTable(0xFFFFFFFFu, 1));
    ASSERT_EQ(image().BlockCount(), 2);
    BlockInfo t = image().Block(1);
    EXPECT_EQ(t.start, 0x2100u);
    EXPECT_EQ(t.end, 0x210Cu);
    EXPECT_EQ(t.added, 1);
    EXPECT_EQ(t.line, -1);
    EXPECT_EQ(image().TotalLength(), 0x10Cu);
    Bytes table = {0x00, 0x01, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x01, 0x00, 0x12, 0x34};
    Bytes expected = data;
    expected.insert(expected.end(), table.begin(), table.end());
    EXPECT_EQ(Chunks(0x400, 0xFF), (std::vector<Chunk>{{0x2000, expected}}));
}

TEST_F(ImageTest, ChecksumTableLeastSignificantFirst) {
    OpenText(Records(0x2000, SumOf0x1234()), 1);
    EXPECT_TRUE(image().AddChecksumTable(0x3000, 0));
    auto chunks = Chunks(0x400, 0xFF);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(
        chunks[1],
        (Chunk{0x3000, {0x01, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x34, 0x12}}));
}

TEST_F(ImageTest, ChecksumTableBelowTheDataIsReadFirst) {
    OpenText(Records(0x2000, Seq(4)), 1);
    EXPECT_TRUE(image().AddChecksumTable(0x1000, 1));
    auto chunks = Chunks(64, 0xFF);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].address, 0x1000u);
    EXPECT_EQ(chunks[0].bytes.size(), 12u);
    EXPECT_EQ(chunks[1], (Chunk{0x2000, Seq(4)}));
}

TEST_F(ImageTest, ChecksumTableAfterBlock) {
    // File order reversed, so that 0x100 and 0x110 are two blocks of one run.
    OpenText(Records(0x110, Seq(16)) + Records(0x100, Seq(16)) + Records(0x400, Seq(4)), 1);
    ASSERT_EQ(image().BlockCount(), 3);
    EXPECT_FALSE(image().AddChecksumTableAfterBlock(5, 1));
    EXPECT_EQ(image().BlockCount(), 3);
    // After block 0 the table would overlap block 1: crossing, false, but the entry stays.
    EXPECT_FALSE(image().AddChecksumTableAfterBlock(0, 1));
    EXPECT_EQ(image().BlockCount(), 4);
    ASSERT_EQ(presenter_.Texts().size(), 1u);
    EXPECT_NE(presenter_.Texts()[0].find("crossing"), std::string::npos);

    OpenText(Records(0x100, Seq(16)) + Records(0x400, Seq(4)), 1);
    EXPECT_TRUE(image().AddChecksumTableAfterBlock(0, 1));
    EXPECT_EQ(image().Block(1).start, 0x110u);
    EXPECT_EQ(image().Block(1).end, 0x110u + 2 + 20);
    EXPECT_EQ(image().Block(0).kind, 1);
    EXPECT_EQ(image().Block(1).kind, 3);
    // Index taken modulo 65536.
    EXPECT_TRUE(image().AddChecksumTableAfterBlock(0x10002, 1));
}

TEST_F(ImageTest, EndAddressSkipsEmptyBlocks) {
    // An S1 record without data far above the data makes an empty block of its own.
    OpenText(Records(0x100, Seq(16)) + Rec("S1", 0x8000, {}) + "\n", 1);
    EXPECT_EQ(image().BlockCount(), 2);
    EXPECT_EQ(image().EndAddress(), 0x110u);
    EXPECT_TRUE(image().AddChecksumTable(0xFFFFFFFFu, 1));
    EXPECT_EQ(image().Block(1).start, 0x110u);
}

// Readers of one image are independent: one at its end leaves the other where it was, and an
// exhausted reader delivers nothing more.
TEST_F(ImageTest, ReadersOfOneImageAreIndependent) {
    OpenText(Records(0x100, Seq(16)) + Records(0x200, Seq(8, 16)), 1);
    ChunkReader first(image()), second(image());
    Bytes b(64);
    EXPECT_EQ(second.ReadChunk(b.data(), 8, 0), 8);
    EXPECT_EQ(first.ReadChunk(b.data(), 64, 0), 16);
    EXPECT_EQ(first.ReadChunk(b.data(), 64, 0), 8);
    EXPECT_EQ(first.ChunkAddress(), 0x200u);
    EXPECT_EQ(first.ReadChunk(b.data(), 64, 0), -1);
    EXPECT_TRUE(first.Exhausted());
    EXPECT_EQ(first.ReadWindow(b.data(), 16, 0), -1);
    EXPECT_FALSE(first.SeekBlock(0));
    EXPECT_EQ(second.ReadChunk(b.data(), 64, 0), 8);
    EXPECT_EQ(second.ChunkAddress(), 0x108u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), Seq(8, 8));
}

TEST_F(ImageTest, SeekBlockRestartsReadOut) {
    OpenText(Records(0x100, Seq(8)) + Records(0x200, Seq(8, 8)), 1);
    EXPECT_TRUE(reader().SeekBlock(1));
    EXPECT_EQ(image().Block(1).line, 2);
    EXPECT_EQ(Chunks(64, 0), (std::vector<Chunk>{{0x200, Seq(8, 8)}}));
    EXPECT_FALSE(reader().SeekBlock(2));
}

TEST_F(ImageTest, WindowFillsEveryGap) {
    OpenText(
        Records(0x100, {1, 2}) + Records(0x104, {3}) + Records(0x120, {4}) + Records(0x107, {9}),
        1);
    Bytes b(8);
    EXPECT_EQ(reader().ReadWindow(b.data(), 8, 0), 8);
    EXPECT_EQ(reader().ChunkAddress(), 0x100u);
    // Data on the window's last byte (0x107) belongs to this window, not to the fill.
    EXPECT_EQ(b, (Bytes{1, 2, 0, 0, 3, 0, 0, 9}));
    Bytes w(0x40);
    EXPECT_EQ(reader().ReadWindow(w.data(), 0x40, 0xAA), 1);
    EXPECT_EQ(reader().ChunkAddress(), 0x120u);
    EXPECT_EQ(reader().ReadWindow(w.data(), 0x40, 0xAA), -1);
}

TEST_F(ImageTest, WindowIgnoresAlignment) {
    OpenText(Records(0x101, {1, 2}) + Records(0x106, {3}), 4);
    Bytes b(8);
    EXPECT_EQ(reader().ReadWindow(b.data(), 8, 0), 6);
    EXPECT_EQ(reader().ChunkAddress(), 0x101u);
    EXPECT_EQ(b, (Bytes{1, 2, 0, 0, 0, 3, 0, 0}));
}

// Chunks compressed as a compressed load sends them decompress to the chunks themselves.
TEST_F(ImageTest, CompressedChunksDecompressToTheRawChunks) {
    Bytes firmware;
    for (int i = 0; i < 3000; ++i)
        firmware.push_back(static_cast<uint8_t>((i % 7) * 3 + (i / 500)));
    std::string text = Records(0x8000, firmware) + Records(0x9000, Seq(100));
    OpenText(text, 4);
    auto raw = Chunks(1024, 0xFF);
    ASSERT_EQ(raw.size(), 4u);
    ChunkReader packed(image(), 4);
    size_t i = 0;
    for (;; ++i) {
        Bytes chunk(1024), dest(1024 + LZRW3A_MAX_EXPANSION);
        const int n = packed.ReadChunk(chunk.data(), 1024, 0xFF);
        if (n <= 0)
            break;
        const uint32_t packedLength =
            lzrw3a_compress_buffer(chunk.data(), static_cast<uint32_t>(n), dest.data());
        ASSERT_LT(i, raw.size());
        EXPECT_EQ(packed.ChunkAddress(), raw[i].address);
        Bytes back(2048);
        size_t len = 0;
        ASSERT_TRUE(
            lzrw3a_decompress_bounded(dest.data(), packedLength, back.data(), back.size(), &len));
        back.resize(len);
        EXPECT_EQ(back, raw[i].bytes);
    }
    EXPECT_EQ(i, raw.size());
}

TEST_F(ImageTest, ManyScatteredRecordsAreSorted) {
    std::string text;
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
        uint32_t slot = static_cast<uint32_t>((i * 7919) % n);
        text += Rec("S2", 0x10000 + slot * 4, {static_cast<uint8_t>(slot)}) + "\n";
    }
    OpenText(text, 1);
    ASSERT_EQ(image().BlockCount(), n);
    ASSERT_EQ(image().RunCount(), n);
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(image().Block(i).start, 0x10000u + static_cast<uint32_t>(i) * 4);
        ASSERT_EQ(image().Block(i).kind, 3);
    }
    auto chunks = Chunks(16, 0);
    ASSERT_EQ(chunks.size(), static_cast<size_t>(n));
    EXPECT_EQ(chunks[1234], (Chunk{0x10000 + 1234 * 4, {static_cast<uint8_t>(1234 % 256)}}));
}

}  // namespace
