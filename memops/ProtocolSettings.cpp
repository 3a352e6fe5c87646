#include "memops/ProtocolSettings.h"

#include "memops/FieldChecks.h"

using streams::Configuration;

namespace memops {

void ReadProtocolSettings(Configuration& profile, ProtocolSettings& settings) {
    profile.ReadInteger("configuration", "Echo", settings.echo);
    profile.Select("LoadMemory", "BlockSize").ReadNumber(settings.blockSize, '\n');
    profile.clear();
}

ProtocolField CheckProtocolSettings(const std::string& blockSizeText, bool echo,
                                    ProtocolSettings& settings) {
    long long size = 0;
    if (!CheckIntegerField(blockSizeText, IntegerKind::Unsigned, ProtocolSettings::kMinBlockSize,
                           ProtocolSettings::kMaxBlockSize, size))
        return ProtocolField::BlockSize;
    settings.blockSize = static_cast<unsigned long>(size);
    settings.echo = echo ? 1 : 0;
    return ProtocolField::None;
}

void WriteProtocolSettings(Configuration& profile, const ProtocolSettings& settings) {
    // Each value ends with its line, so that neither waits for a later selection to be stored.
    profile.Select("configuration", "Echo") << std::dec << settings.echo << '\n';
    profile.Select("LoadMemory", "BlockSize") << std::dec << settings.blockSize << '\n';
    profile.clear();
}

}  // namespace memops
