#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"
#include "srecord/SRecordTestUtil.h"
#include "streams/MessagePresenter.h"
#include "streams/MessageStreams.h"

using namespace streams;

using namespace srecord;

using namespace srtest;

namespace {

const char* const kNotSRecordText =
    "Cannot open file or it is not S-Record.\r( Line does not start with known type:\r"
    "S0 - for the first line or S1,S2,S3,S7,S8,S9 for others)";

class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { SetMessagePresenter(&presenter_); }
    void TearDown() override { SetMessagePresenter(nullptr); }

    // Reads text; 0 when it gave an image, else -1.
    int OpenText(const std::string& text) {
        file_.Write(text);
        return Open(file_.path());
    }
    int Open(const char* path) {
        result_ = ImageReader::Read(path ? path : "");
        return result_ ? 0 : -1;
    }
    const Image& image() const { return *result_.image; }  // after a read that gave one
    int Error() const { return result_.error.code; }
    int Line() const { return result_.error.line; }
    Bytes ReadAll(uint32_t* address = nullptr) {
        Bytes out(4096);
        ChunkReader reader(image());
        int n = reader.ReadChunk(out.data(), static_cast<int>(out.size()), 0xEE);
        if (address)
            *address = reader.ChunkAddress();
        out.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return out;
    }
    std::string Report() {
        presenter_.Clear();
        ReportReadError(result_.error);
        auto texts = presenter_.Texts();
        return texts.empty() ? "" : texts.back();
    }

    RecordingPresenter presenter_;
    TempFile file_;
    ReadResult result_;
};

const std::string kSixteen = Rec("S1", 0x0000, Seq(16));

TEST_F(ReaderTest, EndOfFileActsAsTermination) {
    ASSERT_EQ(kSixteen.substr(0, 8), "S1130000");
    ASSERT_EQ(OpenText(kSixteen + "\n"), 0);
    EXPECT_EQ(Error(), 0);
    EXPECT_STREQ(image().Header(), "Unknown");
    ASSERT_EQ(image().BlockCount(), 1);
    EXPECT_EQ(image().Block(0).start, 0u);
    EXPECT_EQ(image().Block(0).end, 16u);
    EXPECT_EQ(image().Block(0).line, 1);
    EXPECT_EQ(ReadAll(), Seq(16));
}

TEST_F(ReaderTest, LastLineWithoutLineEndIsAccepted) {
    ASSERT_EQ(OpenText(kSixteen), 0);
    EXPECT_EQ(ReadAll(), Seq(16));
    // Also when the line is short and the record a termination record.
    ASSERT_EQ(OpenText(kSixteen + "\r\nS9030000FC"), 0);
    EXPECT_EQ(image().TotalLength(), 16u);
}

TEST_F(ReaderTest, LowerCaseMarkAndDigitsAreAccepted) {
    std::string lower = Rec("S1", 0xABCD, {0xAB, 0xCD, 0xEF});
    for (char& c : lower)
        c = static_cast<char>(std::tolower(c));
    ASSERT_EQ(OpenText(lower + "\n"), 0) << lower;
    EXPECT_EQ(image().Block(0).start, 0xABCDu);
    EXPECT_EQ(ReadAll(), (Bytes{0xAB, 0xCD, 0xEF}));
}

TEST_F(ReaderTest, UnknownRecordTypeIsRejectedWithLineNumber) {
    EXPECT_EQ(OpenText(kSixteen + "\nS5030000FC\n"), -1);
    EXPECT_EQ(Error(), ReadError::kNotSRecord);
    EXPECT_FALSE(result_);
    EXPECT_EQ(Report(), std::string("Error in line 2\r") + kNotSRecordText);

    // A bad count on a line that does not start with S: the record type decides.
    EXPECT_EQ(OpenText("X1GG0000FC\n"), -1);
    EXPECT_EQ(Error(), ReadError::kNotSRecord);
}

TEST_F(ReaderTest, ChecksumFaultCountsBlankLines) {
    std::string text =
        "\n\r\n" + Rec("S1", 0x10, Seq(4)) + "\n\n" + Rec("S1", 0x14, Seq(4), 1) + "\n";
    EXPECT_EQ(OpenText(text), -1);
    EXPECT_EQ(Error(), ReadError::kChecksum);
    EXPECT_EQ(Line(), 5);
    EXPECT_EQ(Report(), "Error in line 5\rchecksum of the line is wrong");
}

TEST_F(ReaderTest, FaultOnSecondLineWithoutHeader) {
    EXPECT_EQ(OpenText(kSixteen + "\n" + Rec("S1", 0x10, Seq(2), -1) + "\n"), -1);
    EXPECT_EQ(Report(), "Error in line 2\rchecksum of the line is wrong");
    EXPECT_FALSE(result_) << "a file with a fault yields no image";
}

TEST_F(ReaderTest, FieldFaults) {
    // Count "0G": not hex.
    EXPECT_EQ(OpenText("S10G0000FC\n"), -1);
    EXPECT_EQ(Error(), ReadError::kNotHex);
    EXPECT_EQ(Report(), "Error in line 1\rthere are no-HEX characters in the line");
    // A single count digit, then the line end.
    EXPECT_EQ(OpenText(kSixteen + "\nS11\n"), -1);
    EXPECT_EQ(Error(), ReadError::kTooShort);
    EXPECT_EQ(Report(), "Error in line 2\rthere are not enough characters");
    // A line shorter than its count says.
    EXPECT_EQ(OpenText(kSixteen.substr(0, kSixteen.size() - 2) + "\n"), -1);
    EXPECT_EQ(Error(), ReadError::kTooShort);
    // A blank inside the address.
    EXPECT_EQ(OpenText("S1050 00AABB00\n"), -1);
    EXPECT_EQ(Error(), ReadError::kTooShort);
    // A non-hex address digit.
    EXPECT_EQ(OpenText("S1050Z00AABB00\n"), -1);
    EXPECT_EQ(Error(), ReadError::kNotHex);
    // A non-hex data digit shows up as a checksum fault.
    std::string bad = Rec("S1", 0x100, {0x12, 0x34});
    bad[9] = 'x';
    EXPECT_EQ(OpenText(bad + "\n"), -1);
    EXPECT_EQ(Error(), ReadError::kChecksum);
}

TEST_F(ReaderTest, NonHexChecksumFailsEvenWhenItsValueFits) {
    // count 04 + address 00FC + data 00 sums to 0x100; "GF" decodes to 0xFF, which would fit.
    EXPECT_EQ(OpenText(kSixteen + "\nS10400FC00GF\n"), -1);
    EXPECT_EQ(Error(), ReadError::kNotHex);
    EXPECT_EQ(Line(), 2);
    EXPECT_EQ(OpenText("S10400FC00FF\n"), 0);
}

TEST_F(ReaderTest, SixteenBitTerminationRecords) {
    // S7 and S8 with count 03 carry a 16-bit address; nothing after them is read.
    for (const char* term :
         {"S9030000FC", "S7030000FC", "S8030000FC", "S70500000000FA", "S804000000FB"}) {
        ASSERT_EQ(OpenText(kSixteen + "\n" + term + "\nthis is not read\n"), 0) << term;
        EXPECT_EQ(image().TotalLength(), 16u) << term;
    }
}

TEST_F(ReaderTest, AddressWidths) {
    std::string text = Rec("S0", 0, {'h', 'd', 'r'}) + "\n" + Rec("S2", 0x123456, Seq(3)) + "\n" +
                       Rec("S3", 0x89ABCDEF, Seq(2)) + "\n" + Rec("S8", 0x123456, {}) + "\n";
    ASSERT_EQ(OpenText(text), 0);
    EXPECT_STREQ(image().Header(), "hdr");
    ASSERT_EQ(image().BlockCount(), 2);
    EXPECT_EQ(image().Block(0).start, 0x123456u);
    EXPECT_EQ(image().Block(0).line, 2);
    EXPECT_EQ(image().Block(1).start, 0x89ABCDEFu);
    EXPECT_EQ(image().Block(1).end, 0x89ABCDF1u);
}

TEST_F(ReaderTest, EmptyAndMissingFiles) {
    EXPECT_EQ(OpenText(""), -1);
    EXPECT_EQ(Error(), ReadError::kNotSRecord);
    EXPECT_EQ(Line(), 0);
    EXPECT_EQ(Report(), std::string("Error in line 0\r") + kNotSRecordText);

    EXPECT_EQ(Open("/nonexistent/dir/file.s19"), -1);
    EXPECT_EQ(Error(), ReadError::kNotSRecord);
    EXPECT_EQ(Line(), 0);
    EXPECT_EQ(Open(nullptr), -1);
    EXPECT_EQ(Open(""), -1);
}

TEST_F(ReaderTest, LineLengthLimit) {
    // Count 0x7D fills a 256-character line exactly (CR LF included).
    std::string longest = Rec("S1", 0x0000, Seq(122));
    ASSERT_EQ(longest.size(), 254u);
    ASSERT_EQ(OpenText(longest + "\r\n"), 0);
    EXPECT_EQ(image().TotalLength(), 122u);
    // Count 0x80 needs 261 characters: too long for a line.
    std::string tooLong = Rec("S1", 0x0000, Seq(125));
    ASSERT_EQ(tooLong.substr(2, 2), "80");
    EXPECT_EQ(OpenText(tooLong + "\n"), -1);
    EXPECT_EQ(Error(), ReadError::kTooShort);
    EXPECT_EQ(Line(), 1);
}

TEST_F(ReaderTest, SecondFileReportsItsOwnError) {
    EXPECT_EQ(OpenText("S10G0000FC\n"), -1);
    EXPECT_EQ(Error(), ReadError::kNotHex);
    std::string text = Rec("S1", 0, Seq(4)) + "\n" + Rec("S1", 4, Seq(4)) + "\n" +
                       Rec("S1", 8, Seq(4)) + "\n" + Rec("S1", 12, Seq(4), 2) + "\n";
    EXPECT_EQ(OpenText(text), -1);
    EXPECT_EQ(Error(), ReadError::kChecksum);
    EXPECT_EQ(Report(), "Error in line 4\rchecksum of the line is wrong");
    // And a good file afterwards opens cleanly.
    EXPECT_EQ(OpenText(kSixteen + "\n"), 0);
    EXPECT_EQ(Error(), 0);
}

TEST_F(ReaderTest, HeaderRecordsAfterTheFirstLineAreNotData) {
    std::string text = Rec("S0", 0, {'A', 'B'}) + "\n" + Rec("S1", 0x100, Seq(4)) + "\n" +
                       Rec("S0", 0x104, {'x', 'y', 'z'}) + "\n" + Rec("S1", 0x104, Seq(4, 4)) +
                       "\n" + Rec("S0", 0, {'q'}) + "\n" + Rec("S1", 0x108, Seq(4, 8)) + "\n";
    ASSERT_EQ(OpenText(text), 0);
    EXPECT_STREQ(image().Header(), "AB");
    ASSERT_EQ(image().BlockCount(), 1);
    EXPECT_EQ(image().Block(0).end, 0x10Cu);
    EXPECT_EQ(ReadAll(), Seq(12));
}

TEST_F(ReaderTest, TrailingBlanksAndWhiteSpaceAreIgnored) {
    std::string text =
        "   \t" + Rec("S1", 0x40, Seq(2)) + "  \t \r\n\v\f" + Rec("S1", 0x42, Seq(2, 2)) + "\r\n";
    ASSERT_EQ(OpenText(text), 0);
    EXPECT_EQ(image().Block(0).line, 1);
    EXPECT_EQ(ReadAll(), Seq(4));
}

TEST_F(ReaderTest, TextAfterTheChecksumIsIgnoredUpToTheLineEnd) {
    // Whatever follows a checksum is skipped up to the next CR or LF, also past the line
    // buffer; the record after it is read on its own line.
    const std::string good = Rec("S1", 0x40, Seq(2));
    const std::string next = Rec("S1", 0x42, Seq(2, 2));
    const std::string bad = Rec("S1", 0x44, Seq(2, 4), 1);
    for (const std::string& rest :
         {std::string("  ; comment"), std::string("00"),
          std::string("\t") + Rec("S1", 0x80, Seq(4)), std::string(300, ' ') + "x",
          std::string(300, 'x') + Rec("S1", 0x90, Seq(4)), std::string("S9030000FC"),
          std::string("\0\xFF\v\f", 4)}) {
        for (const char* end : {"\n", "\r\n", "\r"}) {
            SCOPED_TRACE(rest.substr(0, 12) + (end[0] == '\n' ? " LF" : end[1] ? " CR LF" : " CR"));
            const std::string lines = kSixteen + end + good + rest + end + next + end;
            ASSERT_EQ(OpenText(lines), 0) << Error();
            ASSERT_EQ(image().BlockCount(), 2);
            EXPECT_EQ(image().Block(1).start, 0x40u);
            EXPECT_EQ(image().Block(1).end, 0x44u);
            EXPECT_EQ(image().Block(1).line, 2);
            EXPECT_EQ(image().TotalLength(), 20u);
            // Lines are still counted: a fault after the text is reported on its own line.
            EXPECT_EQ(OpenText(lines + bad + end), -1);
            EXPECT_EQ(Error(), ReadError::kChecksum);
            EXPECT_EQ(Line(), 4);
        }
    }
    // A termination record's own text is skipped too.
    ASSERT_EQ(OpenText(good + "\nS9030000FC end\n"), 0);
    EXPECT_EQ(image().TotalLength(), 2u);
}

TEST_F(ReaderTest, CrLfAndCrLfAllEndALine) {
    const std::vector<std::string> lines = {Rec("S0", 0, {'h'}), Rec("S1", 0x10, Seq(2)),
                                            Rec("S1", 0x12, Seq(2, 2)), "",
                                            Rec("S1", 0x14, Seq(2, 4), 1)};
    for (const char* end : {"\r", "\n", "\r\n"}) {
        SCOPED_TRACE(end[0] == '\r' ? (end[1] ? "CR LF" : "CR") : "LF");
        std::string text;
        for (const auto& l : lines)
            text += l + end;
        // The bad checksum on line 5 (after a blank line) is found and counted right.
        EXPECT_EQ(OpenText(text), -1);
        EXPECT_EQ(Error(), ReadError::kChecksum);
        EXPECT_EQ(Line(), 5);
        text.resize(text.size() - lines.back().size() - std::strlen(end));
        ASSERT_EQ(OpenText(text), 0);
        EXPECT_STREQ(image().Header(), "h");
        EXPECT_EQ(image().Block(0).line, 2);
        EXPECT_EQ(ReadAll(), Seq(4));
    }
}

TEST_F(ReaderTest, StreamsAndEndlessInputAreReadUnderTheLimit) {
    // A device that never ends fails on its first line, without reading on.
    EXPECT_EQ(Open("/dev/zero"), -1);
    EXPECT_EQ(Error(), ReadError::kNotSRecord);
    EXPECT_EQ(Line(), 1);
    // A pipe is read as a stream.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string text = kSixteen + "\n" + Rec("S1", 0x10, Seq(4, 16)) + "\n";
    ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fds[1]);
    std::string path = "/proc/self/fd/" + std::to_string(fds[0]);
    EXPECT_EQ(Open(path.c_str()), 0);
    close(fds[0]);
    EXPECT_EQ(ReadAll(), Seq(20));
}

TEST_F(ReaderTest, FaultsInFullLengthRecords) {
    // Lines long enough to be decoded where they lie in the input, each fault in one field.
    const std::string good = Rec("S3", 0x1000, Seq(32));
    auto with = [&](size_t at, const std::string& chars) {
        return std::string(good).replace(at, chars.size(), chars);
    };
    const size_t checksumAt = good.size() - 2;
    const struct {
        std::string line;
        int error;
    } cases[] = {
        {good, 0},
        {good + " \t ", 0},
        {with(0, "s"), 0},
        {with(1, "5"), ReadError::kNotSRecord},
        {with(2, "2G"), ReadError::kNotHex},
        {with(2, "26"), ReadError::kTooShort},  // count one byte over the line
        {with(2, "24"), ReadError::kChecksum},  // count one byte under: the checksum moves
        {with(6, "Z"), ReadError::kNotHex},     // first address pair
        {with(10, "Z"), ReadError::kNotHex},    // extended address pair
        {with(9, " "), ReadError::kTooShort},   // blank in the address
        {with(20, "x"), ReadError::kChecksum},  // data characters go unchecked
        {with(checksumAt, "G"), ReadError::kNotHex},
        {with(checksumAt + 1, " "), ReadError::kTooShort},
        {good + "0", 0},
        {good + " ; " + good, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        for (const char* end : {"\n", "\r\n", "\r"}) {
            EXPECT_EQ(OpenText(kSixteen + end + c.line + end + kSixteen + end), c.error ? -1 : 0);
            EXPECT_EQ(Error(), c.error);
            if (c.error) {
                EXPECT_EQ(Line(), 2);
            }
        }
    }
}

TEST_F(ReaderTest, LinesAcrossInputBlocksReadAsEverywhereElse) {
    // The input is read in blocks of 1 MiB. Shifting the records by leading blanks puts the
    // block boundary on every character of a line and between CR and LF. The record after
    // the one across the boundary carries a bad checksum: it is found on its own line only
    // when the record across was decoded whole and its line end counted once.
    constexpr size_t kBlock = 1 << 20;
    const size_t lineLength = Rec("S2", 0, Seq(32)).size() + 2;
    const size_t records = kBlock / lineLength + 2;
    std::string lines;
    uint32_t sum = 0;
    for (size_t i = 0; i < records; ++i) {
        const Bytes data = Seq(32, static_cast<uint8_t>(i));
        for (uint8_t b : data)
            sum += b;
        lines += Rec("S2", static_cast<uint32_t>(32 * i), data) + "\r\n";
    }
    for (size_t shift = 0; shift <= lineLength; ++shift) {
        SCOPED_TRACE(shift);
        const size_t spoilt = (kBlock - shift) / lineLength + 1;
        const std::string good = std::string(shift, ' ') + lines;
        std::string bad = good;
        bad.replace(shift + spoilt * lineLength, lineLength - 2,
                    Rec("S2", static_cast<uint32_t>(32 * spoilt),
                        Seq(32, static_cast<uint8_t>(spoilt)), 1));
        EXPECT_EQ(OpenText(bad), -1);
        EXPECT_EQ(Error(), ReadError::kChecksum);
        EXPECT_EQ(Line(), static_cast<int>(spoilt) + 1);
        ASSERT_EQ(OpenText(good), 0);
        ASSERT_EQ(image().BlockCount(), 1);
        EXPECT_EQ(image().TotalLength(), 32 * records);
        EXPECT_EQ(image().Block(0).sum, static_cast<uint16_t>(sum));
    }
}

TEST_F(ReaderTest, RecordsTooShortForTheirTypeAtTheEndOfAnInputBlock) {
    // An S3 record with the count of a 16-bit termination record reads fields past its line
    // end; at the end of a 1 MiB input block those reads must stay inside the reader's own
    // buffers and still find the line too short.
    constexpr size_t kBlock = 1 << 20;
    const std::string record = "S3030000FC\r\n";
    for (size_t tail = record.size(); tail <= record.size() + 16; ++tail) {
        SCOPED_TRACE(tail);
        EXPECT_EQ(OpenText(std::string(kBlock - tail, ' ') + record + kSixteen + "\n"), -1);
        EXPECT_EQ(Error(), ReadError::kTooShort);
        EXPECT_EQ(Line(), 1);
    }
}

TEST_F(ReaderTest, ReportForNoErrorWritesOnlyTheLinePart) {
    ASSERT_EQ(OpenText(kSixteen + "\n"), 0);
    presenter_.Clear();
    ReportReadError(result_.error);
    msgout() << "next\n";
    ASSERT_EQ(presenter_.Texts().size(), 1u);
    // A file read without a fault has no line to name.
    EXPECT_EQ(presenter_.Texts()[0], "Error in line 0\rnext");
}

}  // namespace
