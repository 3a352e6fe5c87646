#include "srecord/S_Record.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "lzrw3a/lzrw3a.h"
#include "platform/HexText.h"
#include "streams/MessageStreams.h"

using streams::msgout;
using streams::NewArrayOrExit;
using streams::NewOrExit;
using streams::ReportOutOfMemory;

using lzrw3a::COMPRESS_ACTION_COMPRESS;
using lzrw3a::COMPRESS_ACTION_IDENTITY;
using lzrw3a::CompressInfo;
using lzrw3a::lzrw3a_compress;

namespace srecord {

namespace {

// 256 characters of line, then room for the reads a malformed record makes past its end.
constexpr int kLineChars = 256;
constexpr int kLinePad = 32;
constexpr int kLineBuffer = kLineChars + kLinePad;
constexpr int kReserved = 32;  // bytes at the start of the image buffer that are never used
constexpr long kMaxFileSize = 1L << 30;

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

// Item i of a summary list, or an empty item for an index out of range.
template <typename T>
T ItemOrEmpty(const std::vector<T>& items, int i) {
    return i < 0 || static_cast<size_t>(i) >= items.size() ? T{} : items[static_cast<size_t>(i)];
}

inline bool IsSpace(int c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

// Index of the first CR or LF in p[from, limit), or limit. Eight characters at a time: a line
// is scanned once, and most of it is hex.
inline size_t FindLineEnd(const unsigned char* p, size_t from, size_t limit) {
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kHighs = 0x8080808080808080u;
    size_t i = from;
    for (; i + 8 <= limit; i += 8) {
        uint64_t v;
        std::memcpy(&v, p + i, 8);
        const uint64_t lf = v ^ (kOnes * '\n');
        const uint64_t cr = v ^ (kOnes * '\r');
        if ((((lf - kOnes) & ~lf) | ((cr - kOnes) & ~cr)) & kHighs)
            break;
    }
    for (; i < limit; ++i) {
        if (p[i] == '\n' || p[i] == '\r')
            return i;
    }
    return limit;
}

// Error code for a count, address or checksum pair that is not two hex digits.
[[gnu::noinline]] int PairError(uint8_t c1, uint8_t c2) {
    const bool shortLine = IsSpace(c1) || IsSpace(c2) || c1 == 0xFF || c2 == 0xFF;
    return shortLine ? S_Record::kErrTooShort : S_Record::kErrNotHex;
}

// The record type of a line that starts with c0 c1 ("S1", "s9", ...).
int KindOf(char c0, char c1) {
    static constexpr int kByDigit[10] = {
        S_Record::kHeader,  S_Record::kS1,      S_Record::kS2, S_Record::kS3, S_Record::kInvalid,
        S_Record::kInvalid, S_Record::kInvalid, S_Record::kS7, S_Record::kS8, S_Record::kS9};
    if ((c0 != 'S' && c0 != 's') || c1 < '0' || c1 > '9')
        return S_Record::kInvalid;
    return kByDigit[c1 - '0'];
}

inline bool IsTermination(int kind) {
    return kind == S_Record::kS7 || kind == S_Record::kS8 || kind == S_Record::kS9;
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

// The input file, read front to back in large blocks and never kept whole: a file that is not
// S-Record fails on its first line after one block, and a pipe or a device is read as a stream
// under the same limit as a regular file.
class S_Record::Input {
  public:
    Input() : buf_(NewArrayOrExit<unsigned char>("S_Record", kBlock)) {}
    ~Input() {
        if (fd_ >= 0)
            close(fd_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // False when the file cannot be opened. A named pipe without a writer reads as empty
    // instead of blocking the open.
    bool Open(const char* name) {
        fd_ = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0)
            return false;
        int flags = fcntl(fd_, F_GETFL);
        if (flags >= 0)
            (void)fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
        struct stat st;
        if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode))
            size_ = static_cast<long long>(st.st_size);
        return true;
    }
    // The size of a regular file; -1 for a stream.
    long long Size() const { return size_; }
    // More input than any file may have, or a read error: the input ended early.
    bool TooLarge() const { return tooLarge_; }
    bool Failed() const { return failed_; }

    int Get() {
        if (pos_ == end_ && !Fill())
            return -1;
        return buf_[pos_++];
    }
    int Peek() {
        if (pos_ == end_ && !Fill())
            return -1;
        return buf_[pos_];
    }
    // Reads up to max characters of the line into out; a line end (CR, LF or CR LF) is
    // consumed but not stored, and reported in *ended.
    size_t ReadRest(char* out, size_t max, bool* ended) {
        size_t n = 0;
        *ended = false;
        while (n < max) {
            if (pos_ == end_ && !Fill())
                return n;
            const unsigned char* from = buf_.get() + pos_;
            const size_t avail = std::min(max - n, end_ - pos_);
            size_t k = 0;
            while (k < avail && from[k] != '\n' && from[k] != '\r')
                ++k;
            std::memcpy(out + n, from, k);
            n += k;
            pos_ += k;
            if (k < avail) {
                *ended = true;
                if (buf_[pos_++] == '\r' && Peek() == '\n')
                    ++pos_;
                return n;
            }
        }
        return n;
    }
    bool AtEnd() { return Peek() < 0; }

    // The line whose first character Get() has just returned, when it lies whole in the block:
    // its end (CR or LF) within max characters of its start and at least one more character
    // after that end, so that a CR LF pair is never split by a refill. Consumes the line and
    // its end and returns the characters before the end, with *text pointing at them (valid
    // until the next read); -1 and nothing consumed otherwise.
    int TakeLineInBlock(const char** text, size_t max) {
        const size_t start = pos_ - 1;
        if (end_ - start < 2)
            return -1;
        const size_t limit = std::min(end_ - start - 1, max);
        const unsigned char* line = buf_.get() + start;
        const size_t t = FindLineEnd(line, 1, limit);
        if (t == limit)
            return -1;
        pos_ = start + t + 1;
        if (line[t] == '\r' && buf_[pos_] == '\n')
            ++pos_;
        *text = reinterpret_cast<const char*>(line);
        return static_cast<int>(t);
    }

  private:
    static constexpr size_t kBlock = 1 << 20;

    bool Fill() {
        if (eof_)
            return false;
        for (;;) {
            ssize_t n = read(fd_, buf_.get(), kBlock);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                failed_ = n < 0;
                eof_ = true;
                return false;
            }
            total_ += static_cast<size_t>(n);
            if (total_ > static_cast<size_t>(kMaxFileSize)) {
                tooLarge_ = eof_ = true;
                return false;
            }
            pos_ = 0;
            end_ = static_cast<size_t>(n);
            return true;
        }
    }

    std::unique_ptr<unsigned char[]> buf_;
    int fd_ = -1;
    long long size_ = -1;
    size_t pos_ = 0, end_ = 0, total_ = 0;
    bool eof_ = false, tooLarge_ = false, failed_ = false;
};

S_Record::S_Record() {
    line_ = NewArrayOrExit<char>("S_Record", kLineBuffer);
    std::memset(line_, '\n', kLineBuffer);
}

S_Record::S_Record(const char* fileName, int alignment) : S_Record() {
    Open(fileName, alignment);
}

S_Record::~S_Record() {
    Close();
    delete[] line_;
}

int S_Record::GetError() const {
    std::lock_guard lock(lock_);
    return error_;
}

void S_Record::SetError(int code) {
    if (error_ == 0)
        error_ = code;
}

// ---------------------------------------------------------------------------------------------
// Reader

inline uint8_t S_Record::Pair(int pos) {
    const auto c1 = static_cast<uint8_t>(text_[pos]);
    const auto c2 = static_cast<uint8_t>(text_[pos + 1]);
    const uint8_t h = kHigh[c1];
    const uint8_t l = kLow[c2];
    if (h == 0xFF || l == 0xFF) [[unlikely]]
        SetError(PairError(c1, c2));
    return h | l;
}

int S_Record::SkipBlank(int& skipped) {
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

int S_Record::TakeLine(int c, int& length) {
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

int S_Record::ReadLine() {
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
        SetError(kErrTooShort);
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
int S_Record::ReadRecord() {
    if (state_ != 0)
        return kErrTooShort;
    dataBytes_ = 0;
    dataSum_ = 0;
    if (ReadLine() != 0) {
        state_ = -1;
        return error_;
    }
    kind_ = KindOf(text_[0], text_[1]);
    if (kind_ == kInvalid) {
        error_ = kErrNotSRecord;  // replaces a count or address fault of the same line
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
    if (static_cast<size_t>(pos_) + static_cast<size_t>(n) > imageSize_) {
        SetError(kErrImageBuffer);  // cannot happen with the buffer sized from the file
        state_ = -1;
        return error_;
    }
    // Data characters are not checked one by one: a non-hex one decodes as 0xFF and shows up
    // as a checksum fault.
    const auto* p = reinterpret_cast<const uint8_t*>(text_ + cursor_);
    uint8_t* w = image_ + pos_;
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
        SetError(kErrChecksum);
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
void S_Record::SkipRestOfLine() {
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
int S_Record::ReadDataRecord() {
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

void S_Record::ReportError() const {
    std::lock_guard lock(lock_);
    std::ostream& out = msgout();
    out << "Error in line " << std::to_string(lineNumber_) << '\r';
    switch (error_) {
        case kErrNotSRecord:
            out << "Cannot open file or it is not S-Record.\r"
                << "( Line does not start with known type:\r"
                << "S0 - for the first line or S1,S2,S3,S7,S8,S9 for others)\n";
            break;
        case kErrNotHex:
            out << "there are no-HEX characters in the line\n";
            break;
        case kErrChecksum:
            out << "checksum of the line is wrong\n";
            break;
        case kErrTooShort:
            out << "there are not enough characters\n";
            break;
        case kErrImageBuffer:
            out << "Cannot create/open image file.\n";
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Image

void S_Record::ReleaseImage() {
    if (image_)
        munmap(image_, imageSize_);
    image_ = nullptr;
    imageSize_ = 0;
}

void S_Record::Close() {
    std::lock_guard lock(lock_);
    delete input_;
    input_ = nullptr;
    ReleaseImage();
    blocks_.clear();
    runs_.clear();
    state_ = 1;
    curBlock_ = 0;
    headerOffset_ = -1;
    pos_ = endPos_ = 0;
    nextAddress_ = outPos_ = chunkAddress_ = 0;
}

int S_Record::Open(const char* fileName, int alignment) {
    std::lock_guard lock(lock_);
    Close();
    lineNumber_ = 0;
    error_ = 0;
    alignment_ = alignment < 1 ? 1u : static_cast<uint32_t>(alignment);
    auto fail = [this](int code) {
        SetError(code);
        state_ = -1;
        delete input_;
        input_ = nullptr;
        return -1;
    };
    if (fileName == nullptr || *fileName == '\0')
        return fail(kErrNotSRecord);
    input_ = NewOrExit<Input>("S_Record");
    if (!input_->Open(fileName) || input_->AtEnd())
        return fail(kErrNotSRecord);
    state_ = 0;
    fileSize_ = input_->Size() < 0 ? kMaxFileSize : static_cast<long>(input_->Size());
    if (fileSize_ > kMaxFileSize || !MapImage())
        return fail(kErrImageBuffer);

    pos_ = kReserved;
    firstRecordPending_ = false;
    if (ReadRecord() != 0)
        return fail(input_->TooLarge() ? kErrImageBuffer : error_);
    PlaceHeader();

    curBlock_ = 0;
    for (int i = 0; GroupBlock(i); ++i) {
    }
    // A stream that went on past every limit, or a read error, ends the file early: that
    // must not pass for its end.
    const bool tooLarge = input_->TooLarge(), readFailed = input_->Failed();
    delete input_;
    input_ = nullptr;
    if (state_ == 0 && (tooLarge || readFailed)) {
        SetError(tooLarge ? kErrImageBuffer : kErrNotSRecord);
        state_ = -1;
    }
    if (state_ < 0)
        return state_;
    SortAndClassify();
    BuildRunSummary();
    curBlock_ = 0;
    SeekBlockLocked(0);
    outPos_ = 0;
    return state_;
}

bool S_Record::MapImage() {
    // Data takes two characters a byte and every record at least ten more, so the data and a
    // checksum table (ten bytes a run) together never exceed the file size; the reserved bytes
    // and the header (one line at most) come on top. A stream of unknown size gets the
    // largest image there can be, as address space only: pages are taken as data arrives.
    size_t need = static_cast<size_t>(fileSize_) + kReserved + kLineChars + 64;
    imageSize_ = (need / 4096 + 1) * 4096;
    const int reserve = input_->Size() < 0 ? MAP_NORESERVE : 0;
    void* m = mmap(nullptr, imageSize_, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | reserve, -1, 0);
    if (m == MAP_FAILED) {
        imageSize_ = 0;
        return false;
    }
    image_ = static_cast<uint8_t*>(m);
    // Every data page is written once, in order: large pages take one fault where small
    // ones take hundreds.
    if (reserve == 0)
        (void)madvise(m, imageSize_, MADV_HUGEPAGE);
    return true;
}

void S_Record::PlaceHeader() {
    headerOffset_ = kReserved;
    if (kind_ == kHeader) {
        image_[pos_++] = 0;
    } else {
        // No header: the record just read is the first data record, behind the header text.
        std::memmove(image_ + kReserved + 8, image_ + kReserved, static_cast<size_t>(dataBytes_));
        std::memcpy(image_ + kReserved, "Unknown", 8);
        pos_ = kReserved + 8 + dataBytes_;
        firstRecordPending_ = true;
    }
}

// Builds block index from consecutive records; true when another block follows.
bool S_Record::GroupBlock(int index) {
    if (index == 0 && ReadDataRecord() != 0)
        return false;
    if (blocks_.size() <= static_cast<size_t>(index))
        Grow(blocks_, static_cast<size_t>(index) + 1);
    BlockInfo& b = blocks_[static_cast<size_t>(index)];
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
        endPos_ = pos_;
        return false;
    }
    return true;
}

bool S_Record::SortAndClassify() {
    for (auto& b : blocks_) {
        if (b.start != b.end)
            b.kind = 1;
    }
    // Non-empty blocks first, by start address; blocks with equal starts keep file order.
    std::stable_sort(blocks_.begin(), blocks_.end(), [](const BlockInfo& a, const BlockInfo& b) {
        return a.kind != 0 && (b.kind == 0 || a.start < b.start);
    });
    bool ok = true;
    const size_t n = blocks_.size();
    for (size_t i = 0; i < n && blocks_[i].kind != 0; ++i) {
        BlockInfo& b = blocks_[i];
        if (i + 1 == n || blocks_[i + 1].kind == 0) {
            b.kind = 3;
        } else if (blocks_[i + 1].start == b.end) {
            b.kind = (i > 0 && b.start == blocks_[i - 1].end) ? 2 : 1;
        } else {
            b.kind = 3;
            if (blocks_[i + 1].start < b.end) {
                msgout() << "Warning!!!\r There are crossing of two blocks.\r"
                         << "End Address of the block is " << b.end
                         << ",\rbut the following block starts from " << blocks_[i + 1].start
                         << '\n';
                ok = false;
            }
        }
    }
    return ok;
}

void S_Record::BuildRunSummary() {
    runs_.clear();
    size_t count = 0;
    for (const auto& b : blocks_)
        count += b.kind == 3;
    if (count == 0)
        return;
    try {
        runs_.reserve(count);
    } catch (const std::bad_alloc&) {
        ReportOutOfMemory("SRecord", true);
    }
    uint32_t start = 0, length = 0, sum = 0;
    for (size_t i = 0; i < blocks_.size(); ++i) {
        const BlockInfo& b = blocks_[i];
        if (b.kind == 1 || (b.kind == 3 && (i == 0 || blocks_[i - 1].kind == 3)))
            start = b.start;
        length += b.end - b.start;
        sum += b.sum;
        if (b.kind == 3) {
            runs_.push_back({start, length, static_cast<uint16_t>(sum)});
            length = 0;
            sum = 0;
        }
    }
}

const char* S_Record::Header() const {
    std::lock_guard lock(lock_);
    if (!image_ || headerOffset_ < 0)
        return "";
    return reinterpret_cast<const char*>(image_ + headerOffset_);
}

uint32_t S_Record::FirstAddress() const {
    std::lock_guard lock(lock_);
    return blocks_.empty() ? 0 : blocks_.front().start;
}

uint32_t S_Record::EndAddress() const {
    std::lock_guard lock(lock_);
    // Empty blocks sort to the back; the table goes after the highest block with data.
    for (auto it = blocks_.rbegin(); it != blocks_.rend(); ++it) {
        if (it->start != it->end)
            return it->end;
    }
    return blocks_.empty() ? 0 : blocks_.back().end;
}

uint32_t S_Record::TotalLength() const {
    std::lock_guard lock(lock_);
    uint32_t total = 0;
    for (const auto& b : blocks_)
        total += b.end - b.start;
    return total;
}

void S_Record::SeekBlockLocked(int i) {
    if (i < 0 || static_cast<size_t>(i) >= blocks_.size())
        return;
    const BlockInfo& b = blocks_[static_cast<size_t>(i)];
    pos_ = b.offset;
    nextAddress_ = b.start;
    lineNumber_ = b.line - 1;
}

bool S_Record::SeekBlock(int i) {
    std::lock_guard lock(lock_);
    if (i < 0 || static_cast<size_t>(i) >= blocks_.size())
        return false;
    curBlock_ = i;
    SeekBlockLocked(i);
    const BlockInfo& b = blocks_[static_cast<size_t>(i)];
    return state_ == 0 && image_ != nullptr && b.start != b.end;
}

// Copies at most m bytes of the current run; never crosses into the next run.
int S_Record::CopyRun(uint8_t* dest, uint32_t m) {
    const int count = static_cast<int>(blocks_.size());
    uint32_t copied = 0;
    while (curBlock_ < count && copied < m) {
        const BlockInfo& b = blocks_[static_cast<size_t>(curBlock_)];
        if (nextAddress_ == b.end) {
            if (b.kind == 3)
                break;
            ++curBlock_;
            SeekBlockLocked(curBlock_);
            continue;
        }
        uint32_t k = std::min(b.end - nextAddress_, m - copied);
        std::memcpy(dest + copied, image_ + pos_, k);
        pos_ += static_cast<int>(k);
        nextAddress_ += k;
        copied += k;
    }
    if (curBlock_ >= count) {
        state_ = 1;
    } else if (nextAddress_ == blocks_[static_cast<size_t>(curBlock_)].end) {
        ++curBlock_;
        SeekBlockLocked(curBlock_);
    }
    return static_cast<int>(copied);
}

int S_Record::ReadChunkLocked(uint8_t* dest, int len, uint8_t fill, uint32_t align) {
    if (state_ != 0 || len < 1 || image_ == nullptr)
        return -1;
    const auto ulen = static_cast<uint32_t>(len);
    std::memset(dest, fill, ulen);
    uint32_t p = outPos_;
    if (nextAddress_ - p >= align) {
        if (p % align != 0) {
            // Complete the unit the previous chunk left open, with fill only.
            uint32_t k = std::min(align - p % align, ulen);
            chunkAddress_ = p;
            outPos_ = p + k;
            return static_cast<int>(k);
        }
        p = nextAddress_ - nextAddress_ % align;
    }
    const uint32_t q = p;
    chunkAddress_ = q;
    uint32_t n = std::min({nextAddress_ - p, align - p % align, ulen});
    while (state_ == 0 && n < ulen) {
        const uint32_t gap = nextAddress_ - q;
        if (gap - n >= align)
            break;  // the next data is a whole unit or more away
        if (gap >= ulen) {
            n = ulen;  // it lies beyond this chunk: the rest is fill
            break;
        }
        n = gap;
        n += static_cast<uint32_t>(CopyRun(dest + n, ulen - n));
    }
    const uint32_t pad = (align - (q + n) % align) % align;
    n += std::min(pad, ulen - n);
    outPos_ = q + n;
    return state_ < 0 ? -1 : static_cast<int>(n);
}

int S_Record::ReadChunk(uint8_t* dest, int len, uint8_t fill) {
    std::lock_guard lock(lock_);
    return ReadChunkLocked(dest, len, fill, alignment_);
}

uint32_t S_Record::ChunkAddress() const {
    std::lock_guard lock(lock_);
    return chunkAddress_;
}

int S_Record::ReadWindow(uint8_t* dest, int len, uint8_t fill) {
    std::lock_guard lock(lock_);
    if (state_ != 0)
        return -1;
    // Windows place every byte at its own address, so the alignment does not apply to them.
    int n = ReadChunkLocked(dest, len, fill, 1);
    const uint32_t q0 = chunkAddress_;
    while (state_ == 0 && n >= 0 && n < len) {
        const uint32_t m = nextAddress_ - q0;
        // Data beginning past the window is left for later. Data on its last byte is read:
        // leaving it to the fill would change the last byte of a boot program.
        if (uint64_t{m} >= static_cast<uint64_t>(len))
            break;
        int r = ReadChunkLocked(dest + m, len - static_cast<int>(m), fill, 1);
        if (r < 0)
            break;
        n = static_cast<int>(m) + r;
    }
    chunkAddress_ = q0;
    return state_ < 0 ? -1 : n;
}

int S_Record::ReadCompressedChunk(uint8_t* dest, int len, int* rawCount, uint8_t fill) {
    std::lock_guard lock(lock_);
    if (rawCount)
        *rawCount = 0;
    uintptr_t infoAddress = 0;
    lzrw3a_compress(COMPRESS_ACTION_IDENTITY, nullptr, nullptr, 0, nullptr, &infoAddress);
    const auto* info = reinterpret_cast<const CompressInfo*>(infoAddress);
    std::unique_ptr<uint8_t[]> work(NewArrayOrExit<uint8_t>("pChar Class", info->memory + 16));
    std::unique_ptr<uint8_t[]> raw(NewArrayOrExit<uint8_t>("pChar Class", len > 0 ? len : 1));
    int n = ReadChunkLocked(raw.get(), len, fill, alignment_);
    if (n <= 0)
        return n;
    uintptr_t packed = 0;
    lzrw3a_compress(COMPRESS_ACTION_COMPRESS, work.get(), raw.get(), static_cast<uint32_t>(n), dest,
                    &packed);
    if (rawCount)
        *rawCount = n;
    return static_cast<int>(packed);
}

bool S_Record::AddChecksumTable(uint32_t address, int byteOrder) {
    std::lock_guard lock(lock_);
    if (image_ == nullptr || state_ < 0)
        return false;
    // The run count is a 16-bit field of the table.
    if (runs_.size() > 0xFFFF)
        return false;
    const uint32_t size = 2 + 10 * static_cast<uint32_t>(runs_.size());
    if (static_cast<size_t>(endPos_) + size > imageSize_)
        return false;
    if (address == 0xFFFFFFFFu)
        address = EndAddress();

    uint8_t* w = image_ + endPos_;
    uint32_t sum = 0;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            int shift = byteOrder == 1 ? 8 * (bytes - 1 - i) : 8 * i;
            auto b = static_cast<uint8_t>(v >> shift);
            *w++ = b;
            sum += b;
        }
    };
    put(static_cast<uint32_t>(runs_.size()), 2);
    for (const auto& r : runs_) {
        put(r.start, 4);
        put(r.length, 4);
        put(r.sum, 2);
    }
    BlockInfo table{0, 1, address, address + size, endPos_, -1, static_cast<uint16_t>(sum)};
    Grow(blocks_, blocks_.size() + 1);
    blocks_.back() = table;
    bool ok = SortAndClassify();
    // The sort may have moved blocks under the read-out: start it again from the lowest block.
    curBlock_ = 0;
    SeekBlockLocked(0);
    outPos_ = 0;
    return ok;
}

bool S_Record::AddChecksumTableAfterBlock(int index, int byteOrder) {
    std::lock_guard lock(lock_);
    const auto i = static_cast<size_t>(static_cast<uint16_t>(index));
    if (i >= blocks_.size())
        return false;
    return AddChecksumTable(blocks_[i].end, byteOrder);
}

int S_Record::State() const {
    std::lock_guard lock(lock_);
    return state_;
}

int S_Record::LineNumber() const {
    std::lock_guard lock(lock_);
    return lineNumber_;
}

int S_Record::Alignment() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(alignment_);
}

int S_Record::BlockCount() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(blocks_.size());
}

BlockInfo S_Record::Block(int i) const {
    std::lock_guard lock(lock_);
    return ItemOrEmpty(blocks_, i);
}

int S_Record::RunCount() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(runs_.size());
}

RunInfo S_Record::Run(int i) const {
    std::lock_guard lock(lock_);
    return ItemOrEmpty(runs_, i);
}

}  // namespace srecord
