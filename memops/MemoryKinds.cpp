#include "memops/MemoryKinds.h"

namespace memops {

namespace {
const MemoryKind kKinds[kMemoryKindCount] = {
    {0, "ram", "Load RAM Memory", "RAM", "Save RAM", "SaveRAM", 0x80},
    {1, "flash", "Load Flash Memory", "Flash", "Save Flash Memory", "SaveFlash", 0x40},
    {2, "int-eeprom", "Load Internal EEPROM Memory", "InternalEEPROM",
     "Save Internal EEPROM Memory", "SaveIE2PROM", 0x00},
    {3, "ext-eeprom", "Load External EEPROM Memory", "ExternalEEPROM",
     "Save External EEPROM Memory", "SaveEE2PROM", 0x00},
    {4, "pelk", "Load PELK Flash Memory", "PELKFLASH", "Save Flash PELK Memory", "SaveFlash", 0x00},
};
}  // namespace

const MemoryKind& MemoryKindOf(int type) {
    return kKinds[(type >= 0 && type < kMemoryKindCount) ? type : 0];
}

std::optional<int> MemoryTypeByName(const std::string& cliName) {
    for (const auto& k : kKinds)
        if (cliName == k.cliName)
            return k.type;
    return std::nullopt;
}

}  // namespace memops
