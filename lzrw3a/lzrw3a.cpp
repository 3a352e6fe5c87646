#include "lzrw3a/lzrw3a.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lzrw3a {

namespace {

constexpr uint32_t kTableLength = 4096;
constexpr uint32_t kDepth = 8;
constexpr uint32_t kMaxRaw = 18;
constexpr uint32_t kMinCopy = 3;
constexpr uint32_t kTopWord = 0xFFFF0000u;
// The most input (or output) 16 items can cover.
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

// Length of the common prefix of a and b, at most 18, where the first three bytes are known to
// be equal, less 2; both must have 18 readable bytes. Without branches: how far a copy reaches
// is as good as random. (Items compare these and add the 2 once.)
inline uint32_t MatchBeyondTwo(const uint8_t* a, const uint8_t* b) {
#if defined(__SSE2__)
    // Equal bytes 2-17 as bits 0-15; the inverted top half caps the count at 16.
    const uint32_t same = static_cast<uint32_t>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2)),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2)))));
    return static_cast<uint32_t>(std::countr_zero(~same));
#else
    uint32_t n = 3;
    while (n < kMaxRaw && a[n] == b[n])
        ++n;
    return n - 2;
#endif
}

// Beside each entry the compressor keeps a tag of the first three bytes found there, so that an
// item rules out, eight entries at a time, every entry that cannot give a copy of 3 or more
// bytes without reading the data it points at. An entry in the buffer is tagged with those
// bytes and kInBuffer above them; the start string, with 0, so that a fresh table is all zeros.
constexpr uint32_t kInBuffer = 0xFF000000u;
constexpr uint32_t kStartTag = uint32_t{'1'} | uint32_t{'2'} << 8 | uint32_t{'3'} << 16 | kInBuffer;

// The tag of an entry at p; p needs 4 readable bytes.
inline uint32_t TagAt(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little)
        return Load<uint32_t>(p) | kInBuffer;
    else
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | kInBuffer;
}

// Bit i set when entry i of the set whose tags start at tags has the tag.
inline uint32_t SameTag(const uint32_t* tags, uint32_t tag) {
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi32(static_cast<int>(tag));
    const __m128i lo =
        _mm_cmpeq_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(tags)), want);
    const __m128i hi =
        _mm_cmpeq_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(tags + 4)), want);
    return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(lo)) |
                                 _mm_movemask_ps(_mm_castsi128_ps(hi)) << 4);
#else
    uint32_t m = 0;
    for (uint32_t i = 0; i < kDepth; ++i)
        m |= uint32_t{tags[i] == tag} << i;
    return m;
#endif
}

// Positions whose sets are worked out at a time, ahead of the items that need them.
constexpr uint32_t kWindow = 2048;

// The first entry (set × 8) of the set of each position p[0..n); p[n + 16] must be readable.
// Eight at a time where the machine allows: done apart from the items, the hash is no longer
// on the way from one item's position to its decision.
inline void FirstEntries(const uint8_t* p, uint32_t n, uint16_t* out) {
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i factor = _mm_set1_epi16(static_cast<short>(40543));
    const __m128i setBits = _mm_set1_epi16(0x1FF << 3);
    for (; i + 8 <= n; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i b0 = _mm_unpacklo_epi8(x, zero);
        const __m128i b1 = _mm_unpacklo_epi8(_mm_srli_si128(x, 1), zero);
        const __m128i b2 = _mm_unpacklo_epi8(_mm_srli_si128(x, 2), zero);
        const __m128i v =
            _mm_xor_si128(_mm_xor_si128(_mm_slli_epi16(b0, 8), _mm_slli_epi16(b1, 4)), b2);
        // v has 16 bits, and bits 4-12 of the 32-bit product are those of its low half.
        const __m128i h = _mm_mullo_epi16(v, factor);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_and_si128(_mm_srli_epi16(h, 1), setBits));
    }
#endif
    for (; i < n; ++i)
        out[i] = static_cast<uint16_t>(HashSet(p + i) * kDepth);
}

// Incompressible: the input as it is, behind FLAG_COPY.
uint32_t Abandon(const uint8_t* src, uint32_t srcLen, uint8_t* dst) {
    dst[0] = static_cast<uint8_t>(LZRW3A_FLAG_COPY);
    dst[1] = dst[2] = dst[3] = 0;
    if (srcLen != 0)
        std::memcpy(dst + 4, src, srcLen);
    return srcLen + 4;
}

// One function on purpose: the item is the compressor's inner loop, and split into calls its
// state would no longer stay in registers.
//
// All state lives in locals so that the byte stores to the output, which may alias anything,
// do not send it out to memory after every item. The table (tags, and entries that hold
// offsets into src) is on the stack rather than in the caller's work memory: addressed from the
// stack pointer, it needs no register of its own. Offsets are 16-bit where the input allows, so
// that the whole table stays in the first-level cache.
template <typename Offset>
[[gnu::always_inline]] inline uint32_t Compress(const uint8_t* src, uint32_t srcLen, uint8_t* dst) {
    alignas(16) uint32_t tags[kTableLength];
    Offset data[kTableLength];          // read only where the tag says kInBuffer
    std::memset(tags, 0, sizeof tags);  // all start string
    std::memset(dst, 0, 4);             // FLAG_COMPRESS

    const uint8_t* in = src;
    const uint8_t* const end = src + srcLen;
    uint8_t* controlAt = dst + 4;
    uint8_t* out = dst + 6;
    // Items shift their kind (1: copy) in at bit 15 under a top word of ones. Bits 15 and 14
    // also tell the two items before the next one (at the start: copies, as if none); they stay
    // when a group is written, and shift out while the next one fills. So they count the
    // literals whose positions still wait to enter the table, without a variable of their own:
    // the compressor's state only just fits the registers.
    constexpr uint32_t kLast = 0x8000u, kOneBefore = 0x4000u;
    uint32_t control = 0xFFFFFFFFu;
    uint32_t cycle = 0;

    // Sets of the positions window[k] belongs to winAt + k, up to winEnd; from two positions
    // before the next item on, for the literals that may wait. Position p's is found at
    // windowAt + 2p, so that reaching an item's set takes one load and no subtraction.
    alignas(16) uint16_t window[kWindow];
    uintptr_t windowAt = 0;
    const uint8_t* winEnd = src;
    // Items are taken only where 18 bytes are left, before this point.
    const uint8_t* const lastItemEnd = srcLen >= kMaxRaw ? end - (kMaxRaw - 1) : src;

    auto setOf = [&](const uint8_t* p) {
        return uint32_t{
            *reinterpret_cast<const uint16_t*>(windowAt + 2 * reinterpret_cast<uintptr_t>(p))};
    };
    auto store = [&](uint32_t base, uint32_t tag, const uint8_t* at) {
        const uint32_t index = base + cycle;
        tags[index] = tag;
        data[index] = static_cast<Offset>(at - src);
        cycle = (cycle + 1) & (kDepth - 1);
    };
    auto storeLiteral = [&](const uint8_t* at) { store(setOf(at), TagAt(at), at); };

    // One item; in has 18 readable bytes.
    auto item = [&]() __attribute__((always_inline)) {
        const uint32_t tag = TagAt(in);
        const uint32_t base = setOf(in);
        // The first longest match wins; only entries that share the first three bytes can.
        uint32_t m = SameTag(tags + base, tag);
        if (tag == kStartTag) [[unlikely]]
            m |= SameTag(tags + base, 0);  // the start string begins with these bytes too
        if (m == 0) {
            *out++ = *in++;
            if ((control & (kLast | kOneBefore)) == 0)
                storeLiteral(in - 3);  // two literals followed it; in has moved on
            control = (control & ~0x10000u) >> 1;
            return;
        }
        // Only an item that begins like the start string can meet an entry that still holds
        // it; every other candidate points into the buffer.
        const bool maybeStart = tag == kStartTag;
        auto source = [&](uint32_t i) {
            if (maybeStart) [[unlikely]]
                return tags[base + i] != 0 ? src + data[base + i] : kStartString;
            return src + data[base + i];
        };
        // The first two candidates side by side, the first standing in for a missing second:
        // whether there is a second is as good as random.
        const uint32_t first = static_cast<uint32_t>(std::countr_zero(m));
        m &= m - 1;
        const uint32_t second = m != 0 ? static_cast<uint32_t>(std::countr_zero(m)) : first;
        // Lengths less 2 from here on.
        const uint32_t len0 = MatchBeyondTwo(in, source(first));
        const uint32_t len1 = MatchBeyondTwo(in, source(second));
        uint32_t best = len1 > len0 ? len1 : len0;
        uint32_t slot = len1 > len0 ? second : first;
        for (m &= m - 1; m != 0 && best < kMaxRaw - 2; m &= m - 1) {
            const uint32_t i = static_cast<uint32_t>(std::countr_zero(m));
            const uint32_t len = MatchBeyondTwo(in, source(i));
            if (len > best) {
                best = len;
                slot = i;
            }
        }
        const uint32_t index = base + slot;
        out[0] = static_cast<uint8_t>(((index >> 4) & 0xF0u) | (best + 2 - kMinCopy));
        out[1] = static_cast<uint8_t>(index);
        out += 2;
        if ((control & kLast) == 0) {
            if ((control & kOneBefore) == 0)
                storeLiteral(in - 2);
            storeLiteral(in - 1);
        }
        store(base, tag, in);
        in += best + 2;
        control >>= 1;
    };

    for (;;) {
        if (static_cast<size_t>(out - dst) > srcLen)
            return Abandon(src, srcLen, dst);
        const size_t left = static_cast<size_t>(end - in);
        if (winEnd < lastItemEnd && static_cast<size_t>(winEnd - in) < kSixteenItems) {
            const uint8_t* winAt = in - std::min<size_t>(2, static_cast<size_t>(in - src));
            const uint32_t n = static_cast<uint32_t>(
                std::min<size_t>(kWindow, static_cast<size_t>(lastItemEnd - winAt)));
            FirstEntries(winAt, n, window);
            winEnd = winAt + n;
            windowAt = reinterpret_cast<uintptr_t>(window) - 2 * reinterpret_cast<uintptr_t>(winAt);
        }
        if (left >= kSixteenItems) {
            // A whole group (passes of 16 only ever start one); every item has 18 bytes ahead.
            do
                item();
            while (control & kTopWord);
        } else if (left >= kMaxRaw) {
            item();
        } else if (left == 0) {
            break;
        } else {
            // The last 17 bytes go out as literals. Nothing is compared after this point, so
            // what they would store in the table can no longer matter.
            *out++ = *in++;
            control = (control & ~0x10000u) >> 1;
        }
        if ((control & kTopWord) == 0) {
            controlAt[0] = static_cast<uint8_t>(control);
            controlAt[1] = static_cast<uint8_t>(control >> 8);
            controlAt = out;
            out += 2;
            control |= kTopWord;
        }
    }
    while (control & kTopWord)
        control >>= 1;  // missing items read as copies
    controlAt[0] = static_cast<uint8_t>(control);
    controlAt[1] = static_cast<uint8_t>(control >> 8);
    if (controlAt == out - 2)
        out -= 2;
    return static_cast<uint32_t>(out - dst);
}

// The compressor is built twice where the compiler can: for any x86-64 processor, and for those
// with AVX2 and BMI (x86-64-v3), whose three-operand vector and bit instructions shorten an
// item by a few percent. The loader picks the one the machine runs; the output is the same.
// Not under ThreadSanitizer, whose runtime is not ready yet when the loader makes that choice.
// LZRW3A_BASELINE_ONLY builds the first alone, for tests on a machine that would run the other.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__) && \
    !defined(__SANITIZE_THREAD__) && !defined(LZRW3A_BASELINE_ONLY)
#define LZRW3A_FOR_EACH_PROCESSOR __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define LZRW3A_FOR_EACH_PROCESSOR
#endif

LZRW3A_FOR_EACH_PROCESSOR
uint32_t CompressUpTo64K(const uint8_t* src, uint32_t srcLen, uint8_t* dst) {
    return Compress<uint16_t>(src, srcLen, dst);
}

LZRW3A_FOR_EACH_PROCESSOR
uint32_t CompressLarger(const uint8_t* src, uint32_t srcLen, uint8_t* dst) {
    return Compress<uint32_t>(src, srcLen, dst);
}

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

uint32_t lzrw3a_compress_buffer(const uint8_t* src, uint32_t srcLen, uint8_t* dst, void*) {
    if (srcLen <= 0x10000u)
        return CompressUpTo64K(src, srcLen, dst);
    return CompressLarger(src, srcLen, dst);
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

}  // namespace lzrw3a
