#include "memops/LoadCommand.h"

#include <cstdio>
#include <cstdlib>

#include "memops/FieldChecks.h"
#include "memops/MemoryKinds.h"
#include "memops/NakRetry.h"
#include "memops/Startup.h"
#include "platform/Clock.h"
#include "platform/FileLocator.h"
#include "platform/HexText.h"
#include "streams/MessageStreams.h"

using zimp::ZimpEngine;

using serial::SerialPort;

using streams::msgout;
using streams::profilestream;

using srecord::S_Record;

namespace memops {

bool ParseHexText(const std::string& text, uint32_t& value) {
    return platform::ParseHexNumber(
        text, value, {.leadingSpaceAndSign = true, .emptyIsZero = true, .saturate = true});
}

bool CheckHexField(const std::string& text) {
    uint32_t v;
    if (ParseHexText(text, v))
        return true;
    msgout() << "The value must be in HEX format\n";
    return false;
}

bool ValidateLoadParameters(const LoadParameters& p) {
    if (!CheckIntegerRange(p.blockIndex, 0, 100000))
        return false;
    if (!CheckHexField(p.addressText) || !CheckHexField(p.biasText))
        return false;
    if (p.fileName.size() > kMaxLoadFileName) {
        msgout() << "Enter no more than " << std::dec << kMaxLoadFileName << " characters.\n";
        return false;
    }
    return CheckHexField(p.fillText);
}

bool AddChecksumTableFor(S_Record& image, const LoadParameters& p) {
    switch (p.checksumMode) {
        case LoadParameters::kLastAddress:
            return image.AddChecksumTable(0xFFFFFFFFu, 1);
        case LoadParameters::kAddress: {
            uint32_t at = 0;
            ParseHexText(p.addressText, at);
            return image.AddChecksumTable(at, 1);
        }
        case LoadParameters::kBlock:
            return image.AddChecksumTableAfterBlock(static_cast<int>(p.blockIndex), 1);
        default:
            return true;
    }
}

VerifyOutcome VerifyLoad(ZimpEngine& engine, S_Record& image, uint32_t bias, uint8_t memoryCode,
                         uint8_t fill, uint32_t& firstBad) {
    uint8_t expected[128], actual[128];
    for (;;) {
        int n = image.ReadChunk(expected, sizeof expected, fill);
        if (n <= 0)
            return VerifyOutcome::Same;
        const uint32_t address = image.ChunkAddress();
        uint32_t got = 0;
        while (got < static_cast<uint32_t>(n)) {
            uint32_t r =
                ReadMemoryRetryingNak(engine, WireAddress(address + bias + got, memoryCode),
                                      actual + got, static_cast<uint32_t>(n) - got, 2000);
            if (engine.ReportError())
                return VerifyOutcome::ReadFailed;
            if (r == 0) {
                // An aborted wait is the user's doing, not a fault of the reply.
                if (engine.LinkError() == zimp::LinkError::Aborted)
                    return VerifyOutcome::Cancelled;
                msgout() << "Reply Format is wrong.\n";
                return VerifyOutcome::ReadFailed;
            }
            got += r;
        }
        for (int i = 0; i < n; ++i) {
            if (expected[i] != actual[i]) {
                firstBad = address + static_cast<uint32_t>(i);
                return VerifyOutcome::Differs;
            }
        }
    }
}

LoadCommand::LoadCommand(SerialPort* port, profilestream* profile)
    : port_(port), profile_(profile) {}

std::optional<unsigned long> LoadCommand::UsableBlockSize() {
    std::optional<unsigned long> blockSize = 0ul;
    if (profile_)
        blockSize = ConfiguredBlockSize(*profile_);
    if (blockSize && *blockSize == 0) {
        msgout() << "Transfer Block has to be more than 0.\n";
        return std::nullopt;
    }
    return blockSize;
}

LoadCommand::Outcome LoadCommand::Run(int memoryType, LoadFrontEnd& frontEnd) {
    const MemoryKind& kind = MemoryKindOf(memoryType);
    if (!UsableBlockSize())
        return Outcome::Refused;
    LoadParameters params;
    if (profile_)
        params.fileName = profile_->ReadFileName("LoadMemory", kind.loadKey);
    loader_.SetTitle(kind.loadTitle);
    params.title = kind.loadTitle;
    char bias[16];
    std::snprintf(bias, sizeof bias, "%lX", static_cast<unsigned long>(loader_.Bias()));
    params.biasText = bias;
    params.compress = loader_.Compress();
    if (!frontEnd.EditParameters(params))
        return Outcome::Cancelled;

    uint32_t value = 0;
    ParseHexText(params.biasText, value);
    loader_.SetBias(value);
    loader_.SetCompress(params.compress);
    uint32_t fill = 0xFF;
    ParseHexText(params.fillText, fill);
    if (!loader_.Open(params.fileName, static_cast<int>(params.alignment),
                      static_cast<uint8_t>(fill))) {
        msgout() << "Cannot open S Record file - " << params.fileName << "\n";
        return Outcome::Refused;
    }
    bool tableOk = AddChecksumTableFor(loader_.Image(), params);
    if (!tableOk) {
        msgout() << "Cannot add checksum.\n";
        return Outcome::Refused;
    }
    if (port_ == nullptr || profile_ == nullptr) {
        msgout() << "You have to set port and profile\n";
        return Outcome::Refused;
    }
    // A device that went away is opened again, and a late answer to an interrupted
    // operation is not taken for the first block's.
    port_->PrepareForOperation();
    // Stored as a name that still holds when the program starts elsewhere.
    profile_->Select("LoadMemory", kind.loadKey) << platform::AbsolutePath(params.fileName);
    const std::optional<bool> echo = ReadEcho(*profile_);  // the selection stores the file name
    const std::optional<unsigned long> blockSize = UsableBlockSize();
    if (!echo || !blockSize)
        return Outcome::Refused;
    return Transfer(kind, *blockSize, *echo, frontEnd);
}

LoadCommand::Outcome LoadCommand::Transfer(const MemoryKind& kind, unsigned long blockSize,
                                           bool echo, LoadFrontEnd& frontEnd) {
    platform::SetProcessPriority(platform::ProcessPriority::High);
    const uint32_t queue = blockSize * 2 < 1024 ? 1024 : static_cast<uint32_t>(blockSize * 2);
    port_->SetQueueSizes(queue, queue);
    engine_.Attach(port_, echo);
    ApplyWriteResponseTimeout(*profile_, engine_);
    loader_.SetEngine(&engine_);
    loader_.SetProgressView(frontEnd.Progress());
    TransferParams tp{kind.code, static_cast<uint32_t>(blockSize)};
    int result = loader_.Run(&tp);
    if (!result)
        msgout() << "File was not loaded.\n";
    engine_.Detach();
    loader_.SetProgressView(nullptr);
    platform::SetProcessPriority(platform::ProcessPriority::Normal);
    return result ? Outcome::Loaded : Outcome::NotLoaded;
}

}  // namespace memops
