#include "memops/MemoryKinds.h"

namespace memops {

namespace {
const MemoryKind kKinds[kMemoryKindCount] = {
    {Memory::Ram, 0, "ram", "Load RAM Memory", "RAM", "Save RAM", "SaveRAM", 0x80, "RAM"},
    {Memory::Flash, 1, "flash", "Load Flash Memory", "Flash", "Save Flash Memory", "SaveFlash",
     0x40, "Flash"},
    {Memory::InternalEeprom, 2, "int-eeprom", "Load Internal EEPROM Memory", "InternalEEPROM",
     "Save Internal EEPROM Memory", "SaveIE2PROM", 0x00, "Internal EEPROM"},
    {Memory::ExternalEeprom, 3, "ext-eeprom", "Load External EEPROM Memory", "ExternalEEPROM",
     "Save External EEPROM Memory", "SaveEE2PROM", 0x00, "External EEPROM"},
    {Memory::Pelk, 4, "pelk", "Load PELK Flash Memory", "PELKFLASH", "Save Flash PELK Memory",
     "SaveFlash", 0x00, "PELK Flash"},
};
}  // namespace

const MemoryKind& MemoryKindOf(Memory memory) {
    return kKinds[static_cast<int>(memory)];
}

std::optional<Memory> MemoryByName(const std::string& cliName) {
    for (const auto& k : kKinds)
        if (cliName == k.cliName)
            return k.memory;
    return std::nullopt;
}

std::optional<Memory> MemoryOfType(int type) {
    if (type < 0 || type >= kMemoryKindCount)
        return std::nullopt;
    return kKinds[type].memory;
}

}  // namespace memops
