#include "memops/MemoryTransfer.h"

#include <mutex>
#include <new>
#include <vector>

#include "platform/Clock.h"
#include "platform/SerialDevice.h"
#include "streams/MessageStreams.h"

using serial::SerialPort;

using streams::msgout;
using streams::NewArrayOrExit;

namespace memops {

int MemoryTransfer::Transfer(void* params) {
    const auto* p = static_cast<const TransferParams*>(params);
    const uint32_t blockSize = p->blockSize;
    uint8_t* buffer = NewArrayOrExit<uint8_t>("pChar Class", blockSize + 32);
    std::unique_ptr<uint8_t[]> owner(buffer);
    if (engine_ == nullptr)
        return 0;

    uint32_t total;
    {
        std::lock_guard lock(image_.Mutex());
        total = image_.TotalLength();
    }
    const uint32_t step = total / 100;
    uint32_t done = 0, nextPoint = 0, lastWire = 0;
    int result = 1;
    for (;;) {
        if (done >= nextPoint) {
            nextPoint += step;
            PostProgress(done, lastWire & ~0xF00000u);
        }
        int n;
        if (compress_) {
            int raw = 0;
            n = image_.ReadCompressedChunk(buffer, static_cast<int>(blockSize), &raw, fill_);
            if (n > 0)
                done += static_cast<uint32_t>(raw);
        } else {
            n = image_.ReadChunk(buffer, static_cast<int>(blockSize), fill_);
            if (n > 0)
                done += static_cast<uint32_t>(n);
        }
        if (n > 0) {
            lastWire = (image_.ChunkAddress() + bias_) | ((p->memoryCode << 16) & 0xF00000u);
            if (!WriteBlock(lastWire, buffer, static_cast<uint32_t>(n)) || CancelSeen()) {
                result = 0;
                break;
            }
            continue;
        }
        result = WriteBlock(kEndMarkerAddress, buffer, 0);
        if (CancelSeen())
            result = 0;
        if (result)
            PostProgress(total, lastWire & ~0xF00000u);
        break;
    }
    return result;
}

int MemoryTransfer::WriteBlock(uint32_t address, const uint8_t* data, uint32_t n) {
    for (int attempt = 1; attempt <= kNakAttempts; ++attempt) {
        // A cancel that lands between two requests would be lost (the next hand-over resets
        // the workers' abort), so it is checked before each of them.
        if (CancelSeen())
            return 1;
        if (engine_->WriteData(address, data, n) == zimp::RequestResult::Acknowledged) {
            if (CancelSeen())
                return 1;
            engine_->AwaitWriteResponse(address);
        }
        if (engine_->LinkError() != zimp::LinkError::Nak)
            break;
        platform::SleepMs(kNakPauseMs);
    }
    if (CancelSeen())
        return 1;
    if (engine_->ReportError())
        return 0;
    if (engine_->RequestResult() == zimp::RequestResult::BadWrite) {
        std::ostream& out = msgout();
        out << "Bad Write Response with address " << std::hex << std::nouppercase << address
            << std::dec << "\n";
        return 0;
    }
    return 1;
}

void MemoryTransfer::Cancel() {
    CImageLoader::Cancel();
    SerialPort* port = engine_ ? engine_->Port() : nullptr;
    if (port) {
        port->AbortAll();
        if (port->IsOpen())
            port->Purge(platform::kPurgeAll);
    }
}

}  // namespace memops
