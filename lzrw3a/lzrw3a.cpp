#include "lzrw3a/lzrw3a.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint32_t kTableLength = 4096;
constexpr uint32_t kDepth = 8;
constexpr uint32_t kMaxRaw = 18;
constexpr uint32_t kMinCopy = 3;
constexpr uint32_t kTopWord = 0xFFFF0000u;
// Fewer input bytes than this left: one item per pass, so the overrun test runs per item.
constexpr uint32_t kSixteenItems = 16 * kMaxRaw;

// Every table entry points here until it is first stored; 18 bytes, the longest copy.
constexpr uint8_t kStartString[kMaxRaw + 1] = "123456789012345678";

const CompressInfo kInfo = {
    0x01B90B91u,     LZRW3A_WORK_MEMORY, "LZRW3-A",           "1.0",           "15-Jul-1990",
    "Public Domain", "Ross Williams",    "ZimpProtocol team", "Public Domain",
};

// Table entries are 32-bit so that the table fits the 16,400 bytes of work memory on any
// platform: 0 means the start string, n means position n - 1 of the buffer being worked on.
using Entry = uint32_t;

uint32_t* AlignedTable(void* workMemory) {
    auto p = (reinterpret_cast<uintptr_t>(workMemory) + 3) & ~uintptr_t{3};
    return reinterpret_cast<uint32_t*>(p);
}

inline uint32_t HashSet(const uint8_t* p) {
    uint32_t v = (uint32_t{p[0]} << 8) ^ (uint32_t{p[1]} << 4) ^ uint32_t { p[2] };
    return ((40543u * v) >> 4) & 0x1FFu;
}

template <typename T>
inline T Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Length of the common prefix of a and b, at most 18; both must have 18 readable bytes.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b) {
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t x = Load<uint64_t>(a) ^ Load<uint64_t>(b);
        if (x != 0)
            return static_cast<uint32_t>(std::countr_zero(x)) >> 3;
        x = Load<uint64_t>(a + 8) ^ Load<uint64_t>(b + 8);
        if (x != 0)
            return 8 + (static_cast<uint32_t>(std::countr_zero(x)) >> 3);
        uint32_t y = uint32_t{Load<uint16_t>(a + 16)} ^ uint32_t { Load<uint16_t>(b + 16) };
        if (y != 0)
            return 16 + (static_cast<uint32_t>(std::countr_zero(y)) >> 3);
        return kMaxRaw;
    } else {
        uint32_t n = 0;
        while (n < kMaxRaw && a[n] == b[n])
            ++n;
        return n;
    }
}

class Compressor {
  public:
    Compressor(uint32_t* table, const uint8_t* src, uint32_t srcLen, uint8_t* dst)
        : table_(table), src_(src), in_(src), end_(src + srcLen), dst_(dst), srcLen_(srcLen) {}

    uint32_t Run() {
        std::memset(dst_, 0, 4);  // FLAG_COMPRESS
        std::fill(table_, table_ + kTableLength, Entry{0});
        control_ = dst_ + 4;
        out_ = dst_ + 6;
        uint32_t control = kTopWord;

        for (;;) {
            if (static_cast<size_t>(out_ - dst_) > srcLen_)
                return Abandon();
            size_t left = static_cast<size_t>(end_ - in_);
            if (left >= kSixteenItems) {
                // A whole group; every item has 18 readable bytes ahead of it.
#pragma GCC unroll 4
                for (int i = 0; i < 16; ++i)
                    control = Item(control);
            } else if (left >= kMaxRaw) {
                control = Item(control);
            } else if (left == 0) {
                break;
            } else {
                // The last 17 bytes go out as literals; set 0 stands in for their hash.
                control = Literal(control, 0);
            }
            if ((control & kTopWord) == 0) {
                PutControl(control);
                control_ = out_;
                out_ += 2;
                control = kTopWord;
            }
        }
        while (control & kTopWord)
            control >>= 1;  // missing items read as copies
        PutControl(control);
        if (control_ == out_ - 2)
            out_ -= 2;
        return static_cast<uint32_t>(out_ - dst_);
    }

  private:
    void PutControl(uint32_t control) {
        control_[0] = static_cast<uint8_t>(control);
        control_[1] = static_cast<uint8_t>(control >> 8);
    }

    void Store(uint32_t set, uint32_t position) {
        table_[set * kDepth + cycle_] = position + 1;
        cycle_ = (cycle_ + 1) & (kDepth - 1);
    }

    const uint8_t* EntryData(Entry e) const {
        return e == 0 ? kStartString : src_ + (e - 1);
    }

    uint32_t Literal(uint32_t control, uint32_t set) {
        uint32_t pos = static_cast<uint32_t>(in_ - src_);
        *out_++ = *in_++;
        if (h2_ >= 0)
            Store(static_cast<uint32_t>(h2_), pos - 2);
        h2_ = h1_;
        h1_ = static_cast<int32_t>(set);
        return (control & ~0x10000u) >> 1;
    }

    inline uint32_t Item(uint32_t control) {
        const uint32_t set = HashSet(in_);
        const Entry* entries = table_ + set * kDepth;
        uint32_t best = 0;
        uint32_t slot = 0;
#pragma GCC unroll 8
        for (uint32_t i = 0; i < kDepth; ++i) {
            const uint32_t len = MatchLength(in_, EntryData(entries[i]));
            // The first longest match wins; selected without a branch, which would be taken
            // at random.
            const bool longer = len > best;
            best = longer ? len : best;
            slot = longer ? i : slot;
        }
        if (best < kMinCopy)
            return Literal(control, set);

        const uint32_t index = set * kDepth + slot;
        out_[0] = static_cast<uint8_t>(((index >> 4) & 0xF0u) | (best - kMinCopy));
        out_[1] = static_cast<uint8_t>(index);
        out_ += 2;
        const uint32_t pos = static_cast<uint32_t>(in_ - src_);
        if (h1_ >= 0) {
            if (h2_ >= 0) {
                Store(static_cast<uint32_t>(h2_), pos - 2);
                h2_ = -1;
            }
            Store(static_cast<uint32_t>(h1_), pos - 1);
            h1_ = -1;
        }
        Store(set, pos);
        in_ += best;
        return control >> 1;
    }

    uint32_t Abandon() {
        dst_[0] = static_cast<uint8_t>(LZRW3A_FLAG_COPY);
        dst_[1] = dst_[2] = dst_[3] = 0;
        if (srcLen_ != 0)
            std::memcpy(dst_ + 4, src_, srcLen_);
        return srcLen_ + 4;
    }

    Entry* table_;
    const uint8_t* src_;
    const uint8_t* in_;
    const uint8_t* end_;
    uint8_t* dst_;
    uint8_t* out_ = nullptr;
    uint8_t* control_ = nullptr;
    uint32_t srcLen_;
    uint32_t cycle_ = 0;
    // Sets of the (up to two) latest literals whose positions are not yet in the table.
    int32_t h1_ = -1;
    int32_t h2_ = -1;
};

// Output positions are kept in 32-bit table entries.
constexpr size_t kMaxOutput = 0xFFFFFFF0u;

class Decompressor {
  public:
    Decompressor(uint32_t* table, uint8_t* dst, size_t capacity)
        : table_(table), dst_(dst), out_(dst), outEnd_(dst + std::min(capacity, kMaxOutput)) {}

    bool Run(const uint8_t* in, const uint8_t* end) {
        std::fill(table_, table_ + kTableLength, Entry{0});
        uint32_t control = 1;
        while (in != end) {
            if (control == 1) {
                if (end - in < 3)
                    return false;  // a control word needs at least one item
                control = 0x10000u | in[0] | (uint32_t{in[1]} << 8);
                in += 2;
            }
            if (end - in >= 32 && outEnd_ - out_ >= static_cast<ptrdiff_t>(kSixteenItems)) {
                // Room for 16 items of any kind on both sides: no checks per item.
#pragma GCC unroll 2
                for (int i = 0; i < 16; ++i) {
                    if (control & 1) {
                        Copy(in[0], in[1]);
                        in += 2;
                    } else {
                        Literal(*in++);
                    }
                    control >>= 1;
                }
            } else {
                if (control & 1) {
                    if (end - in < 2)
                        return false;
                    if (outEnd_ - out_ < static_cast<ptrdiff_t>(3 + (in[0] & 0x0Fu)))
                        return false;
                    Copy(in[0], in[1]);
                    in += 2;
                } else {
                    if (out_ == outEnd_)
                        return false;
                    Literal(*in++);
                }
                control >>= 1;
            }
        }
        return true;
    }

    size_t Length() const {
        return static_cast<size_t>(out_ - dst_);
    }

  private:
    void StoreHashed(uint32_t position) {
        table_[HashSet(dst_ + position) * kDepth + cycle_] = position + 1;
        cycle_ = (cycle_ + 1) & (kDepth - 1);
    }

    void Literal(uint8_t byte) {
        *out_++ = byte;
        if (++literals_ == 3) {
            StoreHashed(static_cast<uint32_t>(out_ - dst_) - 3);
            literals_ = 2;
        }
    }

    void Copy(uint8_t lengthByte, uint8_t lowIndex) {
        const uint32_t index = ((uint32_t{lengthByte} & 0xF0u) << 4) | lowIndex;
        const uint32_t len = (lengthByte & 0x0Fu) + kMinCopy;
        const uint32_t ziv = static_cast<uint32_t>(out_ - dst_);
        const Entry e = table_[index];
        if (e == 0) {
            std::memcpy(out_, kStartString, len);
        } else {
            // Entries always name earlier output, so the source is already written; an
            // overlapping copy repeats bytes it has just produced, hence byte by byte.
            const uint8_t* from = dst_ + (e - 1);
            if (ziv - (e - 1) >= len) {
                std::memcpy(out_, from, len);
            } else {
                for (uint32_t i = 0; i < len; ++i)
                    out_[i] = from[i];
            }
        }
        out_ += len;
        if (literals_ > 0) {
            uint32_t r = ziv - literals_;
            StoreHashed(r);
            if (literals_ == 2)
                StoreHashed(r + 1);
            literals_ = 0;
        }
        table_[(index & ~(kDepth - 1)) + cycle_] = ziv + 1;
        cycle_ = (cycle_ + 1) & (kDepth - 1);
    }

    Entry* table_;
    uint8_t* dst_;
    uint8_t* out_;
    uint8_t* outEnd_;
    uint32_t cycle_ = 0;
    uint32_t literals_ = 0;
};

bool Decompress(uint32_t* table, const uint8_t* src, size_t srcLen, uint8_t* dst, size_t capacity,
                size_t* dstLen) {
    *dstLen = 0;
    if (srcLen < 4)
        return false;
    if (src[0] == LZRW3A_FLAG_COPY) {
        size_t n = srcLen - 4;
        if (n > capacity)
            return false;
        if (n != 0)
            std::memmove(dst, src + 4, n);
        *dstLen = n;
        return true;
    }
    Decompressor d(table, dst, capacity);
    if (!d.Run(src + 4, src + srcLen))
        return false;
    *dstLen = d.Length();
    return true;
}

}  // namespace

const CompressInfo& lzrw3a_info() {
    return kInfo;
}

uint32_t lzrw3a_compress_buffer(const uint8_t* src, uint32_t srcLen, uint8_t* dst,
                                void* workMemory) {
    alignas(4) uint8_t local[LZRW3A_WORK_MEMORY];
    uint32_t* table = AlignedTable(workMemory ? workMemory : local);
    return Compressor(table, src, srcLen, dst).Run();
}

bool lzrw3a_decompress_bounded(const uint8_t* src, size_t srcLen, uint8_t* dst, size_t dstCapacity,
                               size_t* dstLen) {
    uint32_t table[kTableLength];
    return Decompress(table, src, srcLen, dst, dstCapacity, dstLen);
}

void lzrw3a_compress(uint16_t action, void* workMemory, const uint8_t* src, uint32_t srcLen,
                     uint8_t* dst, uintptr_t* dstLen) {
    switch (action) {
        case COMPRESS_ACTION_IDENTITY:
            *dstLen = reinterpret_cast<uintptr_t>(&kInfo);
            break;
        case COMPRESS_ACTION_COMPRESS:
            *dstLen = lzrw3a_compress_buffer(src, srcLen, dst, workMemory);
            break;
        case COMPRESS_ACTION_DECOMPRESS: {
            alignas(4) uint8_t local[LZRW3A_WORK_MEMORY];
            size_t n = 0;
            Decompress(AlignedTable(workMemory ? workMemory : local), src, srcLen, dst,
                       lzrw3a_max_decompressed(srcLen), &n);
            *dstLen = n;
            break;
        }
        default:
            break;
    }
}
