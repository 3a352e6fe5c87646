#pragma once
// The two protocol settings of "ZIMP Configuration": the block size every load uses and the
// radio's echo. Read from and written to the configuration; a missing key keeps the value the
// caller already holds.

#include <string>

#include "memops/Startup.h"
#include "streams/Configuration.h"

namespace memops {

struct ProtocolSettings {
    static constexpr long long kMinBlockSize = 32;
    static constexpr long long kMaxBlockSize = 8192;

    unsigned long blockSize = kDefaultBlockSize;  // "BlockSize" of section "LoadMemory"
    long echo = 0;                                // "Echo" of section "configuration"
};

// Fields of the dialog, so that a refused one can take the focus.
enum class ProtocolField { None, BlockSize };

void ReadProtocolSettings(streams::Configuration& profile, ProtocolSettings& settings);
// Checks the typed block size (a positive integer from 32 to 8192, the framework's texts) and
// takes the echo box; on failure settings stay as they were.
ProtocolField CheckProtocolSettings(const std::string& blockSizeText, bool echo,
                                    ProtocolSettings& settings);
// Writes Echo, then BlockSize, both decimal.
void WriteProtocolSettings(streams::Configuration& profile, const ProtocolSettings& settings);

}  // namespace memops
