#pragma once
// A plain rendering of the LZRW3-A compressor for the benchmark to measure against: a table of
// pointers, byte-by-byte comparisons, one item per step, nothing clever. Same output as
// lzrw3a_compress_buffer().

#include <cstdint>
#include <cstring>

inline uint32_t PlainLzrw3aCompress(const uint8_t* src, uint32_t srcLen, uint8_t* dst) {
    static const uint8_t kStart[] = "123456789012345678";
    const uint8_t* table[4096];
    for (auto& e : table)
        e = kStart;
    const uint8_t* p = src;
    const uint8_t* const end = src + srcLen;
    uint8_t* out = dst + 6;
    uint8_t* controlAt = dst + 4;
    uint32_t control = 0xFFFF0000u;
    uint32_t cycle = 0;
    int h1 = -1, h2 = -1;
    dst[0] = dst[1] = dst[2] = dst[3] = 0;
    for (;;) {
        if (out > dst + srcLen) {
            dst[0] = 1;
            std::memcpy(dst + 4, src, srcLen);
            return srcLen + 4;
        }
        const uint32_t left = static_cast<uint32_t>(end - p);
        if (left == 0)
            break;
        uint32_t set = 0, best = 0, slot = 0;
        if (left >= 18) {
            set = (((uint32_t{p[0]} << 8) ^ (uint32_t{p[1]} << 4) ^ p[2]) * 40543u >> 4) & 0x1FFu;
            for (uint32_t i = 0; i < 8; ++i) {
                const uint8_t* q = table[set * 8 + i];
                uint32_t len = 0;
                while (len < 18 && q[len] == p[len])
                    ++len;
                if (len > best) {
                    best = len;
                    slot = i;
                }
            }
        }
        if (best < 3) {
            *out++ = *p;
            control &= ~0x10000u;
            if (h2 >= 0) {
                table[h2 * 8 + cycle] = p - 2;
                cycle = (cycle + 1) & 7;
            }
            h2 = h1;
            h1 = static_cast<int>(set);
            ++p;
        } else {
            const uint32_t index = set * 8 + slot;
            *out++ = static_cast<uint8_t>(((index >> 4) & 0xF0u) | (best - 3));
            *out++ = static_cast<uint8_t>(index);
            if (h1 >= 0) {
                if (h2 >= 0) {
                    table[h2 * 8 + cycle] = p - 2;
                    cycle = (cycle + 1) & 7;
                    h2 = -1;
                }
                table[h1 * 8 + cycle] = p - 1;
                cycle = (cycle + 1) & 7;
                h1 = -1;
            }
            table[set * 8 + cycle] = p;
            cycle = (cycle + 1) & 7;
            p += best;
        }
        control >>= 1;
        if ((control & 0xFFFF0000u) == 0) {
            controlAt[0] = static_cast<uint8_t>(control);
            controlAt[1] = static_cast<uint8_t>(control >> 8);
            controlAt = out;
            out += 2;
            control = 0xFFFF0000u;
        }
    }
    while (control & 0xFFFF0000u)
        control >>= 1;
    controlAt[0] = static_cast<uint8_t>(control);
    controlAt[1] = static_cast<uint8_t>(control >> 8);
    if (controlAt + 2 == out)
        out = controlAt;
    return static_cast<uint32_t>(out - dst);
}
