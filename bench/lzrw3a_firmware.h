#pragma once
// Firmware-like test data for the benchmarks: segments of machine-code-like words from a small
// vocabulary with varying operands, address tables, text, and erased (0xFF) or zeroed runs.

#include <cstdint>
#include <random>
#include <vector>

inline std::vector<uint8_t> FirmwareLike(size_t size, uint32_t seed = 1) {
    std::mt19937 rng(seed);
    std::vector<uint16_t> opcodes(64);
    for (auto& op : opcodes)
        op = static_cast<uint16_t>(rng());
    const char* words[] = {"Error ", "flash ", "radio ",       "channel ", "init ",
                           "%d ",    "\n",     "calibration ", "EEPROM ",  "timeout "};
    std::vector<uint8_t> out;
    out.reserve(size);
    uint32_t tableAddress = 0x08004000;
    while (out.size() < size) {
        const size_t segment = 64 + rng() % 960;
        const unsigned kind = rng() % 20;
        for (size_t i = 0; i < segment && out.size() < size;) {
            if (kind < 12) {  // code
                uint16_t w = static_cast<uint16_t>(opcodes[rng() % 64] ^ (rng() % 8));
                out.push_back(static_cast<uint8_t>(w));
                out.push_back(static_cast<uint8_t>(w >> 8));
                i += 2;
            } else if (kind < 15) {  // pointer table
                tableAddress += 4 + 4 * (rng() % 16);
                for (int b = 0; b < 4; ++b)
                    out.push_back(static_cast<uint8_t>(tableAddress >> (8 * b)));
                i += 4;
            } else if (kind < 17) {  // strings
                for (const char* c = words[rng() % 10]; *c; ++c, ++i)
                    out.push_back(static_cast<uint8_t>(*c));
            } else {  // erased or zeroed
                out.push_back(kind == 17 ? 0x00 : 0xFF);
                ++i;
            }
        }
    }
    out.resize(size);
    return out;
}
