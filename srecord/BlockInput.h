#pragma once
// The S-Record reader's input: one file read front to back in 1 MiB blocks and never kept
// whole, so that a file that is not S-Record fails on its first line after one block, and a
// pipe or a device is read as a stream under the same 1 GiB limit as a regular file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "streams/MessageStreams.h"

namespace srecord {

inline constexpr long kMaxFileSize = 1L << 30;

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

// The input file, read front to back in large blocks and never kept whole: a file that is not
// S-Record fails on its first line after one block, and a pipe or a device is read as a stream
// under the same limit as a regular file.
class BlockInput {
  public:
    BlockInput() : buf_(streams::NewArrayOrExit<unsigned char>("S_Record", kBlock)) {}
    ~BlockInput() {
        if (fd_ >= 0)
            close(fd_);
    }
    BlockInput(const BlockInput&) = delete;
    BlockInput& operator=(const BlockInput&) = delete;

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

}  // namespace srecord
