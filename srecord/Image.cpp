#include "srecord/Image.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

#include "streams/MessageStreams.h"

using streams::msgout;
using streams::ReportOutOfMemory;

namespace srecord {

namespace {

// Item i of a summary list, or an empty item for an index out of range.
template <typename T>
T ItemOrEmpty(const std::vector<T>& items, int i) {
    return i < 0 || static_cast<size_t>(i) >= items.size() ? T{} : items[static_cast<size_t>(i)];
}

}  // namespace

Image::~Image() {
    if (data_)
        munmap(data_, size_);
}

bool Image::Map(size_t need, bool reserveOnly) {
    size_ = (need / 4096 + 1) * 4096;
    const int reserve = reserveOnly ? MAP_NORESERVE : 0;
    void* m =
        mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | reserve, -1, 0);
    if (m == MAP_FAILED) {
        size_ = 0;
        return false;
    }
    data_ = static_cast<uint8_t*>(m);
    // Every data page is written once, in order: large pages take one fault where small
    // ones take hundreds.
    if (!reserveOnly)
        (void)madvise(m, size_, MADV_HUGEPAGE);
    return true;
}

const char* Image::Header() const {
    if (!data_ || headerOffset_ < 0)
        return "";
    return reinterpret_cast<const char*>(data_ + headerOffset_);
}

uint32_t Image::FirstAddress() const {
    return blocks_.empty() ? 0 : blocks_.front().start;
}

uint32_t Image::EndAddress() const {
    // Empty blocks sort to the back; the table goes after the highest block with data.
    for (auto it = blocks_.rbegin(); it != blocks_.rend(); ++it) {
        if (it->start != it->end)
            return it->end;
    }
    return blocks_.empty() ? 0 : blocks_.back().end;
}

uint32_t Image::TotalLength() const {
    uint32_t total = 0;
    for (const auto& b : blocks_)
        total += b.end - b.start;
    return total;
}

BlockInfo Image::Block(int i) const {
    return ItemOrEmpty(blocks_, i);
}

RunInfo Image::Run(int i) const {
    return ItemOrEmpty(runs_, i);
}

bool Image::SortAndClassify() {
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

void Image::BuildRunSummary() {
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

bool Image::AddChecksumTable(uint32_t address, int byteOrder) {
    if (data_ == nullptr)
        return false;
    // The run count is a 16-bit field of the table.
    if (runs_.size() > 0xFFFF)
        return false;
    const uint32_t size = 2 + 10 * static_cast<uint32_t>(runs_.size());
    if (static_cast<size_t>(endPos_) + size > size_)
        return false;
    if (address == 0xFFFFFFFFu)
        address = EndAddress();

    uint8_t* w = data_ + endPos_;
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
    const BlockInfo table{0, 1, address, address + size, endPos_, -1, static_cast<uint16_t>(sum)};
    try {
        blocks_.push_back(table);
    } catch (const std::bad_alloc&) {
        ReportOutOfMemory("SRecord", true);
    }
    return SortAndClassify();
}

bool Image::AddChecksumTableAfterBlock(int index, int byteOrder) {
    const auto i = static_cast<size_t>(static_cast<uint16_t>(index));
    if (i >= blocks_.size())
        return false;
    return AddChecksumTable(blocks_[i].end, byteOrder);
}

}  // namespace srecord
