#pragma once
// The five radio memories as the load and save commands know them.

#include <cstdint>
#include <optional>
#include <string>

namespace memops {

enum class Memory { Ram, Flash, InternalEeprom, ExternalEeprom, Pelk };

struct MemoryKind {
    Memory memory;
    int type;                 // 0 RAM, 1 Flash, 2 internal EEPROM, 3 external EEPROM, 4 PELK
    const char* cliName;      // "ram", "flash", "int-eeprom", "ext-eeprom", "pelk"
    const char* loadTitle;    // "Load RAM Memory" ...
    const char* loadKey;      // key of the last file in section "LoadMemory"
    const char* saveTitle;    // "Save RAM" ...
    const char* saveSection;  // "SaveRAM" ... (the PELK flash shares "SaveFlash")
    uint8_t code;             // memory code: goes into address bits 20 to 23
    const char* name;         // "RAM", "Flash", "Internal EEPROM" ...: in what a user reads
};

inline constexpr int kMemoryKindCount = 5;

const MemoryKind& MemoryKindOf(Memory memory);
// "ram", "flash", "int-eeprom", "ext-eeprom" or "pelk"; nothing for any other name.
std::optional<Memory> MemoryByName(const std::string& cliName);
// The memory of a type number 0..4 (the menus' numbering); nothing for any other number.
std::optional<Memory> MemoryOfType(int type);

// The address as it goes on the wire: address | (code << 16) limited to bits 20 to 23.
inline uint32_t WireAddress(uint32_t address, uint8_t code) {
    return address | ((static_cast<uint32_t>(code) << 16) & 0xF00000u);
}

}  // namespace memops
