#include "memops/LoadCommand.h"

#include <algorithm>

#include "memops/NakRetry.h"
#include "memops/Startup.h"
#include "platform/Clock.h"
#include "platform/FileLocator.h"
#include "platform/HexText.h"
#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"
#include "streams/MessageStreams.h"

using zimp::ZimpEngine;

using serial::SerialPort;

using streams::Configuration;
using streams::msgout;

using srecord::ChunkReader;
using srecord::Image;
using srecord::ImageReader;
using srecord::ReadResult;

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

bool CheckLoadFileName(const std::string& name) {
    if (name.size() <= kMaxLoadFileName)
        return true;
    msgout() << "Enter no more than " << std::dec << kMaxLoadFileName << " characters.\n";
    return false;
}

bool AddChecksumTableFor(Image& image, const LoadRequest& r) {
    switch (r.checksum) {
        case ChecksumTable::LastAddress:
            return image.AddChecksumTable(0xFFFFFFFFu, 1);
        case ChecksumTable::Address:
            return image.AddChecksumTable(r.checksumAddress, 1);
        case ChecksumTable::AfterBlock:
            return image.AddChecksumTableAfterBlock(static_cast<int>(r.checksumBlock), 1);
        case ChecksumTable::None:
            break;
    }
    return true;
}

VerifyOutcome VerifyLoad(ZimpEngine& engine, const Image& image, uint32_t alignment, uint32_t bias,
                         uint8_t memoryCode, uint8_t fill, uint32_t& firstBad,
                         ProgressView* progress) {
    ChunkReader chunks(image, alignment);
    uint8_t expected[128], actual[128];
    uint32_t done = 0;
    for (;;) {
        int n = chunks.ReadChunk(expected, sizeof expected, fill);
        if (n <= 0)
            return VerifyOutcome::Same;
        const uint32_t address = chunks.ChunkAddress();
        if (progress)
            progress->Progress(done, address + bias);
        done += static_cast<uint32_t>(n);
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

LoadCommand::LoadCommand(SerialPort* port, Configuration* profile)
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

std::optional<LoadRequest> LoadCommand::Defaults(Memory memory) {
    if (!UsableBlockSize())
        return std::nullopt;
    LoadRequest r;
    r.memory = memory;
    if (profile_) {
        r.file = profile_->ReadFileName("LoadMemory", MemoryKindOf(memory).loadKey);
        profile_->clear();
    }
    r.bias = bias_;
    r.compress = compress_;
    return r;
}

std::unique_ptr<Image> LoadCommand::OpenImage(const LoadRequest& request) {
    ReadResult read;
    if (!request.file.empty())
        read = ImageReader::Read(request.file);
    if (!read) {
        msgout() << "Cannot open S Record file - " << request.file << "\n";
        return nullptr;
    }
    if (!AddChecksumTableFor(*read.image, request)) {
        msgout() << "Cannot add checksum.\n";
        return nullptr;
    }
    return std::move(read.image);
}

LoadCommand::Outcome LoadCommand::Run(const LoadRequest& request, ProgressView* progress) {
    transfer_.Rearm();
    loadedBytes_ = 0;
    bias_ = request.bias;
    compress_ = request.compress;
    const std::unique_ptr<Image> image = OpenImage(request);
    if (!image)
        return Outcome::Refused;
    return Run(request, *image, progress);
}

bool LoadCommand::PreparePort() {
    if (port_ == nullptr || profile_ == nullptr) {
        msgout() << "You have to set port and profile\n";
        return false;
    }
    // A device that went away is opened again, and a late answer to an interrupted
    // operation is not taken for the first block's.
    port_->PrepareForOperation();
    return true;
}

LoadCommand::Outcome LoadCommand::Run(const LoadRequest& request, const Image& image,
                                      ProgressView* progress) {
    // The bias and the compress flag are kept for the next load as soon as they are chosen.
    bias_ = request.bias;
    compress_ = request.compress;
    loadedBytes_ = 0;
    if (!PreparePort())
        return Outcome::Refused;
    if (request.remember) {
        // Stored as a name that still holds when the program starts elsewhere.
        profile_->Select("LoadMemory", MemoryKindOf(request.memory).loadKey)
            << platform::AbsolutePath(request.file);
    }
    const std::optional<bool> echo = ReadEcho(*profile_);  // the selection stores the file name
    const std::optional<unsigned long> blockSize = UsableBlockSize();
    if (!echo || !blockSize)
        return Outcome::Refused;
    loadedBytes_ = image.TotalLength();
    Outcome outcome = Transfer(image, request, *blockSize, *echo, progress);
    if (outcome == Outcome::Loaded && request.verify)
        outcome = Verify(image, request, nullptr, true);
    return outcome;
}

LoadCommand::Outcome LoadCommand::VerifyOnly(const LoadRequest& request, const Image& image,
                                             ProgressView* progress) {
    loadedBytes_ = 0;
    if (!PreparePort())
        return Outcome::Refused;
    if (!ReadEcho(*profile_))
        return Outcome::Refused;
    loadedBytes_ = image.TotalLength();
    if (progress)
        progress->Started(MemoryKindOf(request.memory).loadTitle, request.file, image.Header(),
                          image.TotalLength());
    const Outcome outcome = Verify(image, request, progress, false);
    if (progress) {
        if (outcome == Outcome::Loaded)
            progress->Progress(image.TotalLength(), 0);
        progress->Finished();
    }
    return outcome;
}

bool LoadCommand::WriteAfterLoad(const LoadRequest& request, uint32_t address, const uint8_t* bytes,
                                 uint32_t n) {
    if (n > 256 || !PreparePort())
        return false;
    const std::optional<bool> echo = ReadEcho(*profile_);
    if (!echo)
        return false;
    engine_.Attach(port_, *echo);
    ApplyWriteResponseTimeout(*profile_, engine_);
    bool ok = false;
    {
        LoadTransfer::CancelReach reach(transfer_, port_);
        std::copy(bytes, bytes + n, engine_.WriteDataArea());
        ok = transfer_.WriteBlock(WireAddress(address, MemoryKindOf(request.memory).code), n) &&
             !transfer_.Cancelled() && transfer_.WriteBlock(LoadTransfer::kEndMarkerAddress, 0) &&
             !transfer_.Cancelled();
    }
    engine_.Detach();
    return ok;
}

LoadCommand::Outcome LoadCommand::Transfer(const Image& image, const LoadRequest& request,
                                           unsigned long blockSize, bool echo,
                                           ProgressView* progress) {
    const MemoryKind& kind = MemoryKindOf(request.memory);
    platform::SetProcessPriority(platform::ProcessPriority::High);
    const uint32_t queue = blockSize * 2 < 1024 ? 1024 : static_cast<uint32_t>(blockSize * 2);
    port_->SetQueueSizes(queue, queue);
    engine_.Attach(port_, echo);
    ApplyWriteResponseTimeout(*profile_, engine_);
    if (progress)
        progress->Started(kind.loadTitle, request.file, image.Header(), image.TotalLength());
    TransferSettings s;
    s.memoryCode = kind.code;
    s.blockSize = static_cast<uint32_t>(blockSize);
    s.bias = request.bias;
    s.alignment = request.alignment;
    s.fill = request.fill;
    s.compress = request.compress;
    const bool sent = transfer_.Run(image, s, progress);
    if (progress)
        progress->Finished();
    if (!sent)
        msgout() << "File was not loaded.\n";
    engine_.Detach();
    platform::SetProcessPriority(platform::ProcessPriority::Normal);
    return sent ? Outcome::Loaded : Outcome::NotLoaded;
}

LoadCommand::Outcome LoadCommand::Verify(const Image& image, const LoadRequest& request,
                                         ProgressView* progress, bool afterLoad) {
    const std::optional<bool> echo = ReadEcho(*profile_);
    engine_.Attach(port_, echo.value_or(false));
    uint32_t bad = 0;
    VerifyOutcome verified = VerifyOutcome::Cancelled;
    if (!transfer_.Cancelled()) {
        // A cancel ends the read-back's pending wait as it ends a transfer's.
        LoadTransfer::CancelReach reach(transfer_, port_);
        verified = VerifyLoad(engine_, image, request.alignment, request.bias,
                              MemoryKindOf(request.memory).code, request.fill, bad, progress);
    }
    engine_.Detach();
    if (verified == VerifyOutcome::Same && !transfer_.Cancelled())
        return Outcome::Loaded;
    if (verified == VerifyOutcome::Differs)
        msgout() << "Verify failed at address " << std::hex << bad << std::dec << "\n";
    // A read-back the user aborted ends silently.
    if (afterLoad && verified != VerifyOutcome::Cancelled && !transfer_.Cancelled())
        msgout() << "File was not loaded.\n";
    return Outcome::NotLoaded;
}

}  // namespace memops
