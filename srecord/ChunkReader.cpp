#include "srecord/ChunkReader.h"

#include <algorithm>
#include <cstring>

namespace srecord {

ChunkReader::ChunkReader(const Image& image, uint32_t alignment)
    : image_(image), alignment_(alignment < 1 ? 1u : alignment) {
    exhausted_ = image.Blocks().empty();
    SeekBlockAt(0);
}

void ChunkReader::SeekBlockAt(int i) {
    const auto& blocks = image_.Blocks();
    if (i < 0 || static_cast<size_t>(i) >= blocks.size())
        return;
    const BlockInfo& b = blocks[static_cast<size_t>(i)];
    pos_ = b.offset;
    nextAddress_ = b.start;
}

bool ChunkReader::SeekBlock(int i) {
    const auto& blocks = image_.Blocks();
    if (i < 0 || static_cast<size_t>(i) >= blocks.size())
        return false;
    curBlock_ = i;
    SeekBlockAt(i);
    const BlockInfo& b = blocks[static_cast<size_t>(i)];
    return !exhausted_ && b.start != b.end;
}

int ChunkReader::CopyRun(uint8_t* dest, uint32_t m) {
    const auto& blocks = image_.Blocks();
    const int count = static_cast<int>(blocks.size());
    uint32_t copied = 0;
    while (curBlock_ < count && copied < m) {
        const BlockInfo& b = blocks[static_cast<size_t>(curBlock_)];
        if (nextAddress_ == b.end) {
            if (b.kind == 3)
                break;
            ++curBlock_;
            SeekBlockAt(curBlock_);
            continue;
        }
        uint32_t k = std::min(b.end - nextAddress_, m - copied);
        std::memcpy(dest + copied, image_.Data() + pos_, k);
        pos_ += static_cast<int>(k);
        nextAddress_ += k;
        copied += k;
    }
    if (curBlock_ >= count) {
        exhausted_ = true;
    } else if (nextAddress_ == blocks[static_cast<size_t>(curBlock_)].end) {
        ++curBlock_;
        SeekBlockAt(curBlock_);
    }
    return static_cast<int>(copied);
}

int ChunkReader::Read(uint8_t* dest, int len, uint8_t fill, uint32_t align) {
    if (exhausted_ || len < 1)
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
    while (!exhausted_ && n < ulen) {
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
    return static_cast<int>(n);
}

int ChunkReader::ReadChunk(uint8_t* dest, int len, uint8_t fill) {
    return Read(dest, len, fill, alignment_);
}

int ChunkReader::ReadWindow(uint8_t* dest, int len, uint8_t fill) {
    if (exhausted_)
        return -1;
    // Windows place every byte at its own address, so the alignment does not apply to them.
    int n = Read(dest, len, fill, 1);
    const uint32_t q0 = chunkAddress_;
    while (!exhausted_ && n >= 0 && n < len) {
        const uint32_t m = nextAddress_ - q0;
        // Data beginning past the window is left for later. Data on its last byte is read:
        // leaving it to the fill would change the last byte of a boot program.
        if (uint64_t{m} >= static_cast<uint64_t>(len))
            break;
        int r = Read(dest + m, len - static_cast<int>(m), fill, 1);
        if (r < 0)
            break;
        n = static_cast<int>(m) + r;
    }
    chunkAddress_ = q0;
    return n;
}

}  // namespace srecord
