#include "sim/radio/RadioMemory.h"

#include <algorithm>

namespace radio {

uint8_t RadioMemory::Read(uint32_t address) const {
    address &= 0xFFFFFF;
    auto it = pages_.find(address / kPage);
    if (it != pages_.end() && it->second.written[address % kPage])
        return it->second.data[address % kPage];
    return fill_[CodeOf(address)];
}

void RadioMemory::Write(uint32_t address, uint8_t value) {
    address &= 0xFFFFFF;
    Page& page = pages_[address / kPage];
    page.data[address % kPage] = value;
    page.written.set(address % kPage);
}

void RadioMemory::Write(uint32_t address, const uint8_t* data, size_t n) {
    while (n > 0) {
        address &= 0xFFFFFF;
        const uint32_t offset = address % kPage;
        const size_t run = std::min<size_t>(n, kPage - offset);
        Page& page = pages_[address / kPage];
        std::copy(data, data + run, page.data.begin() + offset);
        for (size_t i = 0; i < run; ++i)
            page.written.set(offset + i);
        address += static_cast<uint32_t>(run);
        data += run;
        n -= run;
    }
}

void RadioMemory::Fill(uint8_t code, uint8_t value) {
    code &= 0xF;
    fill_[code] = value;
    const uint32_t first = (uint32_t(code) << 20) / kPage;
    const uint32_t last = ((uint32_t(code) + 1) << 20) / kPage;
    pages_.erase(pages_.lower_bound(first), pages_.lower_bound(last));
}

std::vector<RadioMemory::Block> RadioMemory::Blocks(uint8_t code) const {
    std::vector<Block> blocks;
    const uint32_t first = (uint32_t(code & 0xF) << 20) / kPage;
    const uint32_t last = ((uint32_t(code & 0xF) + 1) << 20) / kPage;
    uint32_t next = 0xFFFFFFFF;  // address that would extend the last block
    for (auto it = pages_.lower_bound(first); it != pages_.end() && it->first < last; ++it) {
        for (uint32_t i = 0; i < kPage; ++i) {
            if (!it->second.written[i])
                continue;
            const uint32_t address = it->first * kPage + i;
            if (blocks.empty() || address != next)
                blocks.push_back({address, {}});
            blocks.back().data.push_back(it->second.data[i]);
            next = address + 1;
        }
    }
    return blocks;
}

size_t RadioMemory::WrittenBytes() const {
    size_t n = 0;
    for (const auto& [key, page] : pages_)
        n += page.written.count();
    return n;
}

}  // namespace radio
