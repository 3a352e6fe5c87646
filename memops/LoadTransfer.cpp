#include "memops/LoadTransfer.h"

#include "lzrw3a/lzrw3a.h"
#include "memops/MemoryKinds.h"
#include "memops/NakRetry.h"
#include "platform/Clock.h"
#include "platform/SerialDevice.h"
#include "srecord/ChunkReader.h"
#include "streams/MessageStreams.h"

using streams::msgout;
using streams::NewArrayOrExit;

using srecord::ChunkReader;
using srecord::Image;

namespace memops {

LoadTransfer::~LoadTransfer() = default;

bool LoadTransfer::Run(const Image& image, const TransferSettings& s, ProgressView* progress) {
    const uint32_t blockSize = s.blockSize;
    // The frame area holds kMaxWriteData bytes and the compressor's worst case beyond them.
    static_assert(zimp::ZimpEngine::kWriteDataSlack >= lzrw3a::LZRW3A_MAX_EXPANSION);
    if (blockSize == 0 || blockSize > zimp::ZimpEngine::kMaxWriteData)
        return false;
    if (s.compress && rawSize_ < blockSize) {
        // One buffer for the whole load: a compressed chunk is made from it straight into the
        // frame.
        raw_.reset(NewArrayOrExit<uint8_t>("pChar Class", blockSize));
        rawSize_ = blockSize;
    }
    // Cancel reaches the port through this, never through the engine, which is this thread's.
    CancelReach reach(*this, engine_.Port());
    if (Cancelled())
        return false;
    ChunkReader chunks(image, s.alignment);
    uint8_t* const frame = engine_.WriteDataArea();
    const uint32_t total = image.TotalLength();
    const uint32_t step = total / 100;
    uint32_t done = 0, nextPoint = 0, lastWire = 0;
    for (;;) {
        if (done >= nextPoint) {
            nextPoint += step;
            if (progress)
                progress->Progress(done, lastWire & ~0xF00000u);
        }
        int n;
        if (s.compress) {
            const int raw = chunks.ReadChunk(raw_.get(), static_cast<int>(blockSize), s.fill);
            n = raw;
            if (raw > 0) {
                done += static_cast<uint32_t>(raw);
                n = static_cast<int>(
                    lzrw3a::lzrw3a_compress_buffer(raw_.get(), static_cast<uint32_t>(raw), frame));
            }
        } else {
            n = chunks.ReadChunk(frame, static_cast<int>(blockSize), s.fill);
            if (n > 0)
                done += static_cast<uint32_t>(n);
        }
        if (n > 0) {
            lastWire = WireAddress(chunks.ChunkAddress() + s.bias, s.memoryCode);
            if (!WriteBlock(lastWire, static_cast<uint32_t>(n)) || Cancelled())
                return false;
            continue;
        }
        const bool ended = WriteBlock(kEndMarkerAddress, 0) && !Cancelled();
        if (ended && progress)
            progress->Progress(total, lastWire & ~0xF00000u);
        return ended;
    }
}

bool LoadTransfer::WriteBlock(uint32_t address, uint32_t n) {
    for (int attempt = 1; attempt <= kNakAttempts; ++attempt) {
        // A cancel that lands between two requests would be lost (the next hand-over resets
        // the workers' abort), so it is checked before each of them.
        if (Cancelled())
            return true;
        if (engine_.SendWriteData(address, n) == zimp::RequestResult::Acknowledged) {
            if (Cancelled())
                return true;
            engine_.AwaitWriteResponse(address);
        }
        if (engine_.LinkError() != zimp::LinkError::Nak)
            break;
        platform::SleepMs(kNakPauseMs);
    }
    if (Cancelled())
        return true;
    if (engine_.ReportError())
        return false;
    if (engine_.RequestResult() == zimp::RequestResult::BadWrite) {
        msgout() << "Bad Write Response with address " << std::hex << std::nouppercase << address
                 << std::dec << "\n";
        return false;
    }
    return true;
}

void LoadTransfer::Cancel() {
    cancelled_ = true;
    serial::SerialPort* port = port_.load();
    if (port) {
        port->AbortAll();
        if (port->IsOpen())
            port->Purge(platform::kPurgeAll);
    }
}

}  // namespace memops
