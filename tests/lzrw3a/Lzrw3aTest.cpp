#include "lzrw3a/lzrw3a.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace lzrw3a;

namespace {

using Bytes = std::vector<uint8_t>;

// A plain, slow transcription of the compressor (byte compares, one item per step), kept
// independent of the unrolled production code so that the two can be compared on any input.
Bytes ReferenceCompress(const Bytes& in) {
    const size_t n = in.size();
    Bytes out(4, 0);
    auto copyFlag = [&] {
        Bytes raw = {1, 0, 0, 0};
        raw.insert(raw.end(), in.begin(), in.end());
        return raw;
    };
    const char* start = "123456789012345678";
    std::vector<long> table(4096, -1);  // -1: the start string
    auto at = [&](long entry, size_t k) -> uint8_t {
        return entry < 0 ? static_cast<uint8_t>(start[k]) : in[static_cast<size_t>(entry) + k];
    };
    auto hash = [&](size_t p) {
        uint32_t v = (uint32_t{in[p]} << 8) ^ (uint32_t{in[p + 1]} << 4) ^ in[p + 2];
        return ((40543u * v) >> 4) & 0x1FFu;
    };
    unsigned cycle = 0;
    auto store = [&](uint32_t set, long pos) {
        table[set * 8 + cycle] = pos;
        cycle = (cycle + 1) % 8;
    };
    long h1 = -1, h2 = -1;
    size_t controlAt = 4;
    out.resize(6);
    uint32_t control = 0xFFFF0000u;
    size_t p = 0;
    for (;;) {
        if (out.size() > n)
            return copyFlag();  // output position beyond dst + srcLen
        size_t left = n - p;
        if (left == 0)
            break;
        uint32_t set = 0;
        uint32_t best = 0, slot = 0;
        if (left >= 18) {
            set = hash(p);
            for (uint32_t i = 0; i < 8; ++i) {
                uint32_t len = 0;
                while (len < 18 && at(table[set * 8 + i], len) == in[p + len])
                    ++len;
                if (len > best)
                    best = len, slot = i;
            }
        }
        if (best < 3) {
            out.push_back(in[p]);
            control &= ~0x10000u;
            if (h2 >= 0)
                store(static_cast<uint32_t>(h2), static_cast<long>(p) - 2);
            h2 = h1;
            h1 = set;
            ++p;
        } else {
            uint32_t index = set * 8 + slot;
            out.push_back(static_cast<uint8_t>(((index >> 8) << 4) | (best - 3)));
            out.push_back(static_cast<uint8_t>(index & 0xFF));
            if (h1 >= 0) {
                if (h2 >= 0)
                    store(static_cast<uint32_t>(h2), static_cast<long>(p) - 2), h2 = -1;
                store(static_cast<uint32_t>(h1), static_cast<long>(p) - 1), h1 = -1;
            }
            store(set, static_cast<long>(p));
            p += best;
        }
        control >>= 1;
        if ((control & 0xFFFF0000u) == 0) {
            out[controlAt] = control & 0xFF;
            out[controlAt + 1] = (control >> 8) & 0xFF;
            controlAt = out.size();
            out.resize(out.size() + 2);
            control = 0xFFFF0000u;
        }
    }
    while (control & 0xFFFF0000u)
        control >>= 1;
    out[controlAt] = control & 0xFF;
    out[controlAt + 1] = (control >> 8) & 0xFF;
    if (controlAt + 2 == out.size())
        out.resize(controlAt);
    return out;
}

// Compresses through the entry point into a buffer with a guard zone beyond srcLen + 32.
Bytes Compress(const Bytes& in) {
    std::vector<uint8_t> work(lzrw3a_info().memory + 16);
    Bytes dst(in.size() + LZRW3A_MAX_EXPANSION + 64, 0xA5);
    uintptr_t len = 0;
    lzrw3a_compress(COMPRESS_ACTION_COMPRESS, work.data(), in.data(),
                    static_cast<uint32_t>(in.size()), dst.data(), &len);
    for (size_t i = in.size() + LZRW3A_MAX_EXPANSION; i < dst.size(); ++i) {
        EXPECT_EQ(dst[i], 0xA5) << "compressor wrote past srcLen + 32 at " << i;
    }
    dst.resize(len);
    return dst;
}

Bytes Decompress(const Bytes& in, size_t capacity) {
    Bytes dst(capacity);
    size_t len = 0;
    EXPECT_TRUE(lzrw3a_decompress_bounded(in.data(), in.size(), dst.data(), dst.size(), &len));
    dst.resize(len);
    return dst;
}

Bytes Repeat(uint8_t b, size_t n) {
    return Bytes(n, b);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes r;
    for (const auto& p : parts)
        r.insert(r.end(), p.begin(), p.end());
    return r;
}

Bytes Copies(size_t n) {  // n copy items of 18 bytes from entry 0
    Bytes r;
    for (size_t i = 0; i < n; ++i)
        r.insert(r.end(), {0x0F, 0x00});
    return r;
}

// Data of the kinds the loader sends: code-like words with repeats, text, runs, noise.
Bytes Generate(size_t n, int kind, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    switch (kind) {
        case 0:  // random
            for (auto& x : b)
                x = static_cast<uint8_t>(rng());
            break;
        case 1:  // runs of random length
            for (size_t i = 0; i < n;) {
                uint8_t v = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 0xFF);
                size_t run = 1 + rng() % 40;
                for (size_t k = 0; k < run && i < n; ++k)
                    b[i++] = v;
            }
            break;
        case 2: {  // text
            const std::string words[] = {"load ",     "flash ",    "memory ", "radio ", "block ",
                                         "S-Record ", "checksum ", "\r\n",    "0x1F00 "};
            for (size_t i = 0; i < n; ++i) {
                const std::string& w = words[rng() % 9];
                for (char c : w) {
                    if (i >= n)
                        break;
                    b[i++] = static_cast<uint8_t>(c);
                }
                if (i < n)
                    --i;
            }
            break;
        }
        case 4: {  // pieces of the start string, so that it competes with the data's own copies
            const std::string start = "123456789012345678";
            for (size_t i = 0; i < n;) {
                const size_t from = rng() % start.size();
                const size_t len = 1 + rng() % (start.size() - from);
                for (size_t k = 0; k < len && i < n; ++k)
                    b[i++] = static_cast<uint8_t>(start[from + k]);
                if (i < n && rng() % 3 == 0)
                    b[i++] = static_cast<uint8_t>('0' + rng() % 10);
            }
            break;
        }
        default: {  // firmware-like: instruction words from a small vocabulary, some literals
            const uint16_t ops[] = {0x4E75, 0x2F0E, 0x6100, 0x4EB9, 0x0000, 0x7001, 0x41F9};
            for (size_t i = 0; i + 1 < n; i += 2) {
                uint16_t w = rng() % 5 == 0 ? static_cast<uint16_t>(rng()) : ops[rng() % 7];
                b[i] = static_cast<uint8_t>(w >> 8);
                b[i + 1] = static_cast<uint8_t>(w);
            }
            if (n % 2)
                b[n - 1] = 0x4E;
            break;
        }
    }
    return b;
}

TEST(Lzrw3aFormat, QueryGivesTheInformationRecord) {
    uintptr_t result = 0;
    lzrw3a_compress(COMPRESS_ACTION_IDENTITY, nullptr, nullptr, 0, nullptr, &result);
    const auto* info = reinterpret_cast<const CompressInfo*>(result);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->id, 0x01B90B91u);
    EXPECT_EQ(info->memory, 16400u);
    EXPECT_STREQ(info->name, "LZRW3-A");
    EXPECT_STREQ(info->version, "1.0");
    EXPECT_STREQ(info->date, "15-Jul-1990");
    EXPECT_STREQ(info->vendor, "Public Domain");
    EXPECT_EQ(info, &lzrw3a_info());

    uintptr_t untouched = 1234;
    lzrw3a_compress(3, nullptr, nullptr, 0, nullptr, &untouched);
    EXPECT_EQ(untouched, 1234u);
}

TEST(Lzrw3aFormat, FiveBytesOrFewerAreCopied) {
    Bytes five = {1, 2, 3, 4, 5};
    EXPECT_EQ(Compress(five), (Bytes{1, 0, 0, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(Compress(Repeat(0, 5)), (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Compress({}), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(Decompress(Compress(five), 5), five);
}

TEST(Lzrw3aFormat, SixtyFourZeroBytes) {
    Bytes expected = {0x00, 0x00, 0x00, 0x00, 0x38, 0xE0, 0x00, 0x00, 0x00, 0x0F, 0x00,
                      0x0F, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    Bytes c = Compress(Repeat(0, 64));
    EXPECT_EQ(c, expected);
    EXPECT_EQ(Decompress(c, 64), Repeat(0, 64));
}

TEST(Lzrw3aFormat, RandomKilobyteFallsBackToCopy) {
    Bytes in = Generate(1024, 0, 7);
    Bytes c = Compress(in);
    ASSERT_EQ(c.size(), 1028u);
    EXPECT_EQ(Bytes(c.begin(), c.begin() + 4), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(Bytes(c.begin() + 4, c.end()), in);
    EXPECT_EQ(Decompress(c, 1024), in);
}

// Fewer than 18 bytes left: literals only; 18 or more: a copy may start there.
TEST(Lzrw3aFormat, EighteenByteTail) {
    // 20 zeros: the fourth item has 17 bytes ahead, so everything is literal and overruns.
    EXPECT_EQ(Compress(Repeat(0, 20))[0], 1);
    // 21 zeros: three literals, one 18-byte copy from entry 0; missing items read as copies.
    EXPECT_EQ(Compress(Repeat(0, 21)), (Bytes{0, 0, 0, 0, 0xF8, 0xFF, 0, 0, 0, 0x0F, 0x00}));
    EXPECT_EQ(Compress(Repeat(0, 22)), (Bytes{0, 0, 0, 0, 0xE8, 0xFF, 0, 0, 0, 0x0F, 0x00, 0x00}));
}

// At 288 bytes left a pass takes 16 items, below it one; the output is the same either way.
TEST(Lzrw3aFormat, TwoHundredEightyEightByteGroups) {
    Bytes expect288 = Cat({{0, 0, 0, 0, 0xF8, 0xFF, 0, 0, 0},
                           Copies(13),
                           {0x03, 0x00},
                           Copies(2),
                           Repeat(0, 14),
                           {0xFE, 0xFF, 0x00}});
    EXPECT_EQ(Compress(Repeat(0, 288)), expect288);
    Bytes expect289 = Cat({{0, 0, 0, 0, 0xF8, 0xFF, 0, 0, 0},
                           Copies(13),
                           {0x03, 0x00},
                           Copies(2),
                           Repeat(0, 14),
                           {0xFC, 0xFF, 0x00, 0x00}});
    EXPECT_EQ(Compress(Repeat(0, 289)), expect289);
    EXPECT_EQ(Decompress(expect289, 289), Repeat(0, 289));
}

TEST(Lzrw3aFormat, StartStringIsMatchable) {
    std::string s = "123456789012345678123456789012345678";
    Bytes in(s.begin(), s.end());
    Bytes c = Compress(in);
    ASSERT_EQ(c[0], 0);
    // The first item is already a copy of the 18-byte start string.
    EXPECT_EQ(c[4] & 1, 1);
    EXPECT_EQ(c[6] & 0x0F, 0x0F);
    EXPECT_EQ(Decompress(c, in.size()), in);
}

TEST(Lzrw3aRoundTrip, MatchesReferenceAndRestoresInput) {
    std::vector<uint8_t> work(LZRW3A_WORK_MEMORY + 16);
    for (int kind = 0; kind < 5; ++kind) {
        for (size_t n = 0; n <= 9000; n += (n < 600 ? 1 : 97)) {
            Bytes in = Generate(n, kind, static_cast<uint32_t>(n * 4 + kind));
            Bytes c = Compress(in);
            ASSERT_EQ(c, ReferenceCompress(in)) << "kind " << kind << " size " << n;
            ASSERT_LE(c.size(), n + 4);
            ASSERT_EQ(Decompress(c, n), in) << "kind " << kind << " size " << n;
            // The action entry point with an unaligned work memory gives the same bytes.
            Bytes out(lzrw3a_max_decompressed(c.size()) + 1);
            uintptr_t len = 0;
            lzrw3a_compress(COMPRESS_ACTION_DECOMPRESS, work.data() + 1, c.data(),
                            static_cast<uint32_t>(c.size()), out.data(), &len);
            ASSERT_EQ(len, n);
            ASSERT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
        }
    }
}

// Around 64 KiB the compressor changes how it keeps positions; both sides must match.
TEST(Lzrw3aRoundTrip, LargeInputsMatchReference) {
    for (size_t n : {65535u, 65536u, 65537u, 70000u, 300000u}) {
        for (int kind : {2, 3}) {
            Bytes in = Generate(n, kind, static_cast<uint32_t>(n + kind));
            Bytes c = Compress(in);
            ASSERT_EQ(c, ReferenceCompress(in)) << "kind " << kind << " size " << n;
            ASSERT_EQ(Decompress(c, n), in) << "kind " << kind << " size " << n;
        }
    }
}

TEST(Lzrw3aRoundTrip, FirmwareChunksCompress) {
    Bytes in = Generate(8192, 3, 1);
    Bytes c = Compress(in);
    EXPECT_EQ(c[0], 0);
    EXPECT_LT(c.size(), in.size());
    EXPECT_EQ(Decompress(c, in.size()), in);
}

TEST(Lzrw3aBounded, RefusesTooSmallDestination) {
    Bytes in = Generate(4000, 1, 3);
    Bytes c = Compress(in);
    ASSERT_EQ(c[0], 0);
    Bytes out(in.size() - 1);
    size_t len = 99;
    EXPECT_FALSE(lzrw3a_decompress_bounded(c.data(), c.size(), out.data(), out.size(), &len));
    EXPECT_EQ(len, 0u);

    Bytes raw = Compress(Generate(100, 0, 3));
    ASSERT_EQ(raw[0], 1);
    EXPECT_FALSE(lzrw3a_decompress_bounded(raw.data(), raw.size(), out.data(), 99, &len));
    EXPECT_TRUE(lzrw3a_decompress_bounded(raw.data(), raw.size(), out.data(), 100, &len));
    EXPECT_EQ(len, 100u);
}

TEST(Lzrw3aBounded, RejectsTruncatedInput) {
    size_t len = 0;
    Bytes out(100);
    EXPECT_FALSE(lzrw3a_decompress_bounded(nullptr, 0, out.data(), out.size(), &len));
    Bytes three = {0, 0, 0};
    EXPECT_FALSE(lzrw3a_decompress_bounded(three.data(), 3, out.data(), out.size(), &len));
    // A control word without an item, and a copy cut after its first byte.
    Bytes lone = {0, 0, 0, 0, 0xFF, 0xFF};
    EXPECT_FALSE(lzrw3a_decompress_bounded(lone.data(), lone.size(), out.data(), 100, &len));
    Bytes cut = {0, 0, 0, 0, 0xFF, 0xFF, 0x0F};
    EXPECT_FALSE(lzrw3a_decompress_bounded(cut.data(), cut.size(), out.data(), 100, &len));

    // Every prefix of a real stream: either rejected or decoded into a prefix of the input.
    Bytes in = Generate(3000, 3, 9);
    Bytes c = Compress(in);
    Bytes big(in.size());
    for (size_t k = 0; k < c.size(); ++k) {
        bool ok = lzrw3a_decompress_bounded(c.data(), k, big.data(), big.size(), &len);
        if (ok) {
            ASSERT_LE(len, in.size());
            ASSERT_TRUE(std::equal(big.begin(), big.begin() + static_cast<long>(len), in.begin()));
        }
    }
}

}  // namespace
