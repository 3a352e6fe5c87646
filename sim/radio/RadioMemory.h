#pragma once
// The radio's memories as one sparse 24-bit address space. Bits 20-23 of an address are the
// memory code (0x8 RAM, 0x4 Flash, 0 for the EEPROMs and the PELK flash); each memory reads
// as its fill value (0xFF: erased) where nothing was written.

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <vector>

namespace radio {

class RadioMemory {
  public:
    static constexpr uint32_t kCodes = 16;

    static uint8_t CodeOf(uint32_t address) { return (address >> 20) & 0xF; }

    uint8_t Read(uint32_t address) const;
    void Write(uint32_t address, uint8_t value);
    // The same as writing the bytes one by one, a page at a time.
    void Write(uint32_t address, const uint8_t* data, size_t n);
    // Sets every byte of one memory to value (erase: 0xFF, zero: 0).
    void Fill(uint8_t code, uint8_t value);
    uint8_t FillValue(uint8_t code) const { return fill_[code & 0xF]; }

    struct Block {
        uint32_t address;
        std::vector<uint8_t> data;
    };
    // Runs of written bytes of one memory, in address order.
    std::vector<Block> Blocks(uint8_t code) const;
    size_t WrittenBytes() const;

  private:
    static constexpr uint32_t kPage = 256;
    struct Page {
        std::array<uint8_t, kPage> data;
        std::bitset<kPage> written;
    };
    std::map<uint32_t, Page> pages_;  // keyed by address / kPage
    std::array<uint8_t, kCodes> fill_ = [] {
        std::array<uint8_t, kCodes> a;
        a.fill(0xFF);
        return a;
    }();
};

}  // namespace radio
