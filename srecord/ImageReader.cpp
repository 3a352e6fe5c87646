#include "srecord/ImageReader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/HexText.h"
#include "srecord/BlockInput.h"
#include "streams/MessageStreams.h"

using streams::msgout;
using streams::NewArrayOrExit;
using streams::NewOrExit;
using streams::ReportOutOfMemory;

namespace srecord {

namespace {

// 256 characters of line, then room for the reads a malformed record makes past its end.
constexpr int kLineChars = 256;
constexpr int kLinePad = 32;
constexpr int kLineBuffer = kLineChars + kLinePad;
constexpr int kReserved = 32;  // bytes at the start of the image buffer that are never used

// Nibble tables: the low table gives 0-15, the high table the same value shifted left by four;
// any other character gives 0xFF in both.
constexpr std::array<uint8_t, 256> MakeNibbles(bool high) {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const int v = platform::HexDigitValue(static_cast<char>(c));
        t[c] = v < 0 ? 0xFF : static_cast<uint8_t>(high ? v << 4 : v);
    }
    return t;
}
constexpr std::array<uint8_t, 256> kLow = MakeNibbles(false);
constexpr std::array<uint8_t, 256> kHigh = MakeNibbles(true);

inline bool IsSpace(int c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

// Error code for a count, address or checksum pair that is not two hex digits.
[[gnu::noinline]] int PairError(uint8_t c1, uint8_t c2) {
    const bool shortLine = IsSpace(c1) || IsSpace(c2) || c1 == 0xFF || c2 == 0xFF;
    return shortLine ? ReadError::kTooShort : ReadError::kNotHex;
}

// Record kinds of a decoded record.
enum RecordKind { kHeader = 0, kS1 = 1, kS2 = 2, kS3 = 3, kS7 = 4, kS8 = 5, kS9 = 6, kInvalid = 8 };

// The record type of a line that starts with c0 c1 ("S1", "s9", ...).
int KindOf(char c0, char c1) {
    static constexpr int kByDigit[10] = {kHeader,  kS1,      kS2, kS3, kInvalid,
                                         kInvalid, kInvalid, kS7, kS8, kS9};
    if ((c0 != 'S' && c0 != 's') || c1 < '0' || c1 > '9')
        return kInvalid;
    return kByDigit[c1 - '0'];
}

inline bool IsTermination(int kind) {
    return kind == kS7 || kind == kS8 || kind == kS9;
}

// Growth of the block list and the summary; a failure ends the program like every other
// allocation of ours.
template <typename T>
void Grow(std::vector<T>& v, size_t n) {
    try {
        v.resize(n);
    } catch (const std::bad_alloc&) {
        ReportOutOfMemory("SRecord", true);
    }
}

}  // namespace

// One parse: the input, the state of the current line and record, and the image being filled.
class ImageParser {
  public:
    ImageParser()
        : lineOwner_(NewArrayOrExit<char>("S_Record", kLineBuffer)), line_(lineOwner_.get()) {
        std::memset(line_, '\n', kLineBuffer);
    }
    ReadResult Parse(const std::string& path);

  private:
    // Ends the parse with code (unless an earlier fault is recorded).
    ReadResult Fail(int code);
    // The image's buffer, sized from the file; false when it cannot be had.
    bool MapImage();
    // After the first record: its header, or a stand-in header ahead of its data.
    void PlaceHeader();
    // Skips blank lines; returns the next character (negative at the end of the input).
    int SkipBlank(int& skipped);
    // The line that starts with c (none: a stand-in termination record) into text_; returns
    // the characters stored, length gets them with the line end.
    int TakeLine(int c, int& length);
    int ReadLine();
    int ReadRecord();
    int ReadDataRecord();
    void SkipRestOfLine();
    uint8_t Pair(int pos);
    void SetError(int code) {
        if (error_ == 0)
            error_ = code;
    }
    bool GroupBlock(int index);

    std::unique_ptr<char[]> lineOwner_;
    char* line_;  // line buffer, padded so that a record never reads past it
    std::unique_ptr<BlockInput> input_;
    std::unique_ptr<Image> image_;
    long fileSize_ = 0;
    int pos_ = 0;  // write position in the image buffer

    const char* text_ = nullptr;  // the current line: in the input block, or line_
    int lineNumber_ = 0;
    int lineLength_ = 0;
    int lineStored_ = 0;               // characters of the line in the buffer
    bool lineEnded_ = false;           // the line end (or the end of the file) has been read
    bool firstRecordPending_ = false;  // a header-less file's first record, already decoded
    int cursor_ = 0;                   // position of the next hex pair in the line
    int count_ = 0;
    int sum_ = 0;
    uint32_t address_ = 0;
    uint16_t dataSum_ = 0;
    int dataBytes_ = 0;
    int kind_ = kInvalid;
    int error_ = 0;
    int state_ = 0;  // 0 reading, -1 failed
};

ReadResult ImageParser::Fail(int code) {
    SetError(code);
    ReadResult r;
    r.error = {error_, lineNumber_};
    return r;
}

ReadResult ImageParser::Parse(const std::string& path) {
    if (path.empty())
        return Fail(ReadError::kNotSRecord);
    input_.reset(NewOrExit<BlockInput>("S_Record"));
    if (!input_->Open(path.c_str()) || input_->AtEnd())
        return Fail(ReadError::kNotSRecord);
    fileSize_ = input_->Size() < 0 ? kMaxFileSize : static_cast<long>(input_->Size());
    image_.reset(new (std::nothrow) Image());
    if (!image_)
        ReportOutOfMemory("S_Record", true);
    if (fileSize_ > kMaxFileSize || !MapImage())
        return Fail(ReadError::kImageBuffer);

    pos_ = kReserved;
    if (ReadRecord() != 0)
        return Fail(input_->TooLarge() ? ReadError::kImageBuffer : error_);
    PlaceHeader();
    for (int i = 0; GroupBlock(i); ++i) {
    }
    // A stream that went on past every limit, or a read error, ends the file early: that
    // must not pass for its end.
    if (state_ == 0 && input_->TooLarge())
        return Fail(ReadError::kImageBuffer);
    if (state_ == 0 && input_->Failed())
        return Fail(ReadError::kNotSRecord);
    if (state_ < 0)
        return Fail(error_);
    input_.reset();
    image_->SortAndClassify();
    image_->BuildRunSummary();
    ReadResult r;
    r.image = std::move(image_);
    return r;
}

bool ImageParser::MapImage() {
    // Data takes two characters a byte and every record at least ten more, so the data and a
    // checksum table (ten bytes a run) together never exceed the file size; the reserved bytes
    // and the header (one line at most) come on top. A stream of unknown size gets the
    // largest image there can be, as address space only: pages are taken as data arrives.
    const size_t need = static_cast<size_t>(fileSize_) + kReserved + kLineChars + 64;
    return image_->Map(need, input_->Size() < 0);
}

inline uint8_t ImageParser::Pair(int pos) {
    const auto c1 = static_cast<uint8_t>(text_[pos]);
    const auto c2 = static_cast<uint8_t>(text_[pos + 1]);
    const uint8_t h = kHigh[c1];
    const uint8_t l = kLow[c2];
    if (h == 0xFF || l == 0xFF) [[unlikely]]
        SetError(PairError(c1, c2));
    return h | l;
}

int ImageParser::SkipBlank(int& skipped) {
    int c = input_->Get();
    while (c >= 0 && IsSpace(c)) {
        ++skipped;
        if (c == '\n' || c == '\r') {
            ++lineNumber_;
            if (c == '\r' && input_->Peek() == '\n') {
                input_->Get();
                ++skipped;
            }
        }
        c = input_->Get();
    }
    return c;
}

int ImageParser::TakeLine(int c, int& length) {
    int stored;
    if (c < 0) {
        // The end of the file stands for a termination record.
        std::memcpy(line_, "S9030000FC", 10);
        stored = 10;
        length = 11;
        lineEnded_ = true;
        text_ = line_;
    } else if (const char* text; (stored = input_->TakeLineInBlock(&text, kLineChars)) >= 0) {
        length = stored + 1;
        lineEnded_ = true;
        text_ = text;
        // Parsed where it lies unless its fields would read past its end (a count too large
        // for the line, a record too short for its type): those reads must meet the padding.
        const auto* u = reinterpret_cast<const uint8_t*>(text);
        const bool countIsHex = stored >= 14 && kHigh[u[2]] != 0xFF && kLow[u[3]] != 0xFF;
        if (!countIsHex || stored < 2 * (kHigh[u[2]] | kLow[u[3]]) + 4) {
            std::memcpy(line_, text, static_cast<size_t>(stored));
            text_ = line_;
        }
    } else {
        line_[0] = static_cast<char>(c);
        const size_t max = kLineChars - 1;
        size_t n = input_->ReadRest(line_ + 1, max, &lineEnded_);
        stored = 1 + static_cast<int>(n);
        // The line end counts as one character; a last line without one is ended by the end
        // of the file.
        length = stored;
        if (lineEnded_ || input_->AtEnd()) {
            lineEnded_ = true;
            ++length;
        }
        text_ = line_;
    }
    return stored;
}

int ImageParser::ReadLine() {
    ++lineNumber_;
    int skipped = 0;
    const int c = SkipBlank(skipped);
    int length;
    const int stored = TakeLine(c, length);
    if (text_ == line_)
        std::memset(line_ + stored, '\n', kLinePad);

    lineLength_ = length;
    lineStored_ = stored;
    count_ = 0;
    cursor_ = 2;
    if (length >= 7) {
        count_ = Pair(2);
        cursor_ = 4;
    }
    if (length < 7 || (error_ == 0 && length < 2 * count_ + 5)) {
        SetError(ReadError::kTooShort);
        return error_;
    }
    sum_ = count_;
    address_ = 0;
    if (count_ >= 3) {
        uint8_t hi = Pair(4);
        uint8_t lo = Pair(6);
        address_ = (uint32_t{hi} << 8) | lo;
        sum_ += hi + lo;
        count_ -= 2;
        cursor_ = 8;
    }
    lineLength_ += skipped;
    return 0;
}

// One record in one pass, kept whole: its steps share the cursor and the running sum, and
// this is the reader's inner loop.
int ImageParser::ReadRecord() {
    if (state_ != 0)
        return ReadError::kTooShort;
    dataBytes_ = 0;
    dataSum_ = 0;
    if (ReadLine() != 0) {
        state_ = -1;
        return error_;
    }
    kind_ = KindOf(text_[0], text_[1]);
    if (kind_ == kInvalid) {
        error_ = ReadError::kNotSRecord;  // replaces a count or address fault of the same line
        state_ = -1;
        return error_;
    }
    if (error_ != 0) {
        state_ = -1;
        return error_;
    }

    int extra = 0;
    if (kind_ == kS2 || (kind_ == kS8 && count_ != 1))
        extra = 1;
    if (kind_ == kS3 || (kind_ == kS7 && count_ != 1))
        extra = 2;
    for (int i = 0; i < extra; ++i) {
        uint8_t b = Pair(cursor_);
        cursor_ += 2;
        address_ = (address_ << 8) | b;
        sum_ += b;
        --count_;
    }

    const int n = std::max(count_ - 1, 0);
    if (static_cast<size_t>(pos_) + static_cast<size_t>(n) > image_->size_) {
        SetError(ReadError::kImageBuffer);  // cannot happen with the buffer sized from the file
        state_ = -1;
        return error_;
    }
    // Data characters are not checked one by one: a non-hex one decodes as 0xFF and shows up
    // as a checksum fault.
    const auto* p = reinterpret_cast<const uint8_t*>(text_ + cursor_);
    uint8_t* w = image_->data_ + pos_;
    uint32_t dsum = 0;
    for (int i = 0; i < n; ++i) {
        uint8_t b = kHigh[p[0]] | kLow[p[1]];
        w[i] = b;
        dsum += b;
        p += 2;
    }
    cursor_ += 2 * n;
    pos_ += n;
    dataBytes_ = n;
    dataSum_ = static_cast<uint16_t>(dsum);
    sum_ += static_cast<int>(dsum);

    const uint8_t checksum = Pair(cursor_);
    // A checksum field that is not hex fails the line even when its value happens to fit.
    if (error_ == 0 && checksum + (sum_ & 0xFF) != 255)
        SetError(ReadError::kChecksum);
    if (error_ == 0) {
        SkipRestOfLine();
        return 0;
    }
    state_ = -1;
    return error_;
}

// What follows the checksum is ignored (other tools put comments or counts there). A line
// longer than the buffer is read on to its end here, so that its rest is never taken for a
// line of its own.
void ImageParser::SkipRestOfLine() {
    while (!lineEnded_) {
        const int c = input_->Get();
        if (c < 0 || c == '\n' || c == '\r') {
            if (c == '\r' && input_->Peek() == '\n')
                input_->Get();
            lineEnded_ = true;
        }
    }
}

// The next record that can belong to a block: headers met after the first line are dropped
// (their text is not data), and a termination record carries no data.
int ImageParser::ReadDataRecord() {
    for (;;) {
        int r = firstRecordPending_ ? 0 : ReadRecord();
        firstRecordPending_ = false;
        if (r != 0)
            return r;
        if (kind_ == kHeader || IsTermination(kind_)) {
            pos_ -= dataBytes_;
            dataBytes_ = 0;
            dataSum_ = 0;
        }
        if (kind_ != kHeader)
            return 0;
    }
}

void ImageParser::PlaceHeader() {
    image_->headerOffset_ = kReserved;
    if (kind_ == kHeader) {
        image_->data_[pos_++] = 0;
    } else {
        // No header: the record just read is the first data record, behind the header text.
        std::memmove(image_->data_ + kReserved + 8, image_->data_ + kReserved,
                     static_cast<size_t>(dataBytes_));
        std::memcpy(image_->data_ + kReserved, "Unknown", 8);
        pos_ = kReserved + 8 + dataBytes_;
        firstRecordPending_ = true;
    }
}

// Builds block index from consecutive records; true when another block follows.
bool ImageParser::GroupBlock(int index) {
    if (index == 0 && ReadDataRecord() != 0)
        return false;
    if (image_->blocks_.size() <= static_cast<size_t>(index))
        Grow(image_->blocks_, static_cast<size_t>(index) + 1);
    BlockInfo& b = image_->blocks_[static_cast<size_t>(index)];
    b.start = address_;
    b.offset = pos_ - dataBytes_;
    b.line = lineNumber_;
    b.sum = dataSum_;
    uint32_t expected = address_ + static_cast<uint32_t>(dataBytes_);
    bool terminated = IsTermination(kind_);
    while (!terminated) {
        if (ReadDataRecord() != 0)
            break;
        if (IsTermination(kind_)) {
            terminated = true;
        } else if (address_ != expected) {
            break;
        } else {
            b.sum = static_cast<uint16_t>(b.sum + dataSum_);
            expected += static_cast<uint32_t>(dataBytes_);
        }
    }
    b.end = expected;
    if (state_ != 0 || terminated) {
        image_->endPos_ = pos_;
        return false;
    }
    return true;
}

ReadResult ImageReader::Read(const std::string& path) {
    ImageParser parser;
    return parser.Parse(path);
}

void ReportReadError(const ReadError& error) {
    std::ostream& out = msgout();
    out << "Error in line " << std::to_string(error.line) << '\r';
    switch (error.code) {
        case ReadError::kNotSRecord:
            out << "Cannot open file or it is not S-Record.\r"
                << "( Line does not start with known type:\r"
                << "S0 - for the first line or S1,S2,S3,S7,S8,S9 for others)\n";
            break;
        case ReadError::kNotHex:
            out << "there are no-HEX characters in the line\n";
            break;
        case ReadError::kChecksum:
            out << "checksum of the line is wrong\n";
            break;
        case ReadError::kTooShort:
            out << "there are not enough characters\n";
            break;
        case ReadError::kImageBuffer:
            out << "Cannot create/open image file.\n";
            break;
        default:
            break;
    }
}

}  // namespace srecord
