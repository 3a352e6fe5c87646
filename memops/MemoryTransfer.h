#pragma once
// The load of an image into a radio memory: chunks of at most the block size (LZRW3-A
// compressed when asked), each a "Write Data" request confirmed by a write response, retried
// after a NAK, then the end marker at 0xFFFFFF.

#include <cstdint>

#include "memops/CImageLoader.h"
#include "memops/NakRetry.h"
#include "zimp/ZimpEngine.h"

namespace memops {

struct TransferParams {
    uint32_t memoryCode;
    uint32_t blockSize;
};

class MemoryTransfer : public CImageLoader {
  public:
    static constexpr uint32_t kEndMarkerAddress = 0xFFFFFF;

    void SetEngine(zimp::ZimpEngine* engine) { engine_ = engine; }
    zimp::ZimpEngine* Engine() const { return engine_; }

    // params is a TransferParams. 1 on success, 0 on failure or cancel.
    int Transfer(void* params) override;
    // Writes one block with up to four attempts; 1 on success (or cancel), 0 on failure.
    int WriteBlock(uint32_t address, const uint8_t* data, uint32_t n);
    // Stops the transfer at once: the stop flag, and an abort and purge of the port.
    void Cancel() override;

  private:
    bool CancelSeen() const { return Stopped() || IsCancelled(); }
    zimp::ZimpEngine* engine_ = nullptr;
};

}  // namespace memops
