#pragma once
// The transfer of a load: the image's chunks of at most the block size (LZRW3-A compressed when
// asked), each a "Write Data" request confirmed by a write response and retried after a NAK,
// then the end marker at 0xFFFFFF. One blocking procedure on the caller's thread; Cancel ends it
// at once from any other.

#include <atomic>
#include <cstdint>
#include <memory>

#include "memops/ProgressView.h"
#include "srecord/Image.h"
#include "zimp/ZimpEngine.h"

namespace memops {

struct TransferSettings {
    uint8_t memoryCode = 0;  // into address bits 20 to 23
    uint32_t blockSize = 0;  // raw image bytes a block covers, 1 to kMaxWriteData
    uint32_t bias = 0;       // added to every chunk address
    uint32_t alignment = 1;  // of the chunks
    uint8_t fill = 0xFF;     // gaps and padding
    bool compress = false;
};

class LoadTransfer {
  public:
    static constexpr uint32_t kEndMarkerAddress = 0xFFFFFF;

    // The engine is attached to the port for the length of the transfer; neither is owned.
    explicit LoadTransfer(zimp::ZimpEngine& engine) : engine_(engine) {}
    ~LoadTransfer();
    LoadTransfer(const LoadTransfer&) = delete;
    LoadTransfer& operator=(const LoadTransfer&) = delete;

    // Sends the image; progress (may be nullptr) hears of every hundredth of it. True when the
    // end marker was written. A failure's message is on the message stream; a cancel has
    // none.
    bool Run(const srecord::Image& image, const TransferSettings& settings, ProgressView* progress);
    // Any thread: stops the transfer at once (a pending wait is aborted and the port purged);
    // a Run that has not begun yet ends before its first block. Holds until Rearm.
    void Cancel();
    bool Cancelled() const { return cancelled_.load(); }
    // Forgets an earlier Cancel: the start of the next load, on its own thread.
    void Rearm() { cancelled_ = false; }
    const std::atomic<bool>& CancelFlag() const { return cancelled_; }

    // While one lives, Cancel also aborts the waits on port (a read-back after the transfer).
    class CancelReach {
      public:
        CancelReach(LoadTransfer& transfer, serial::SerialPort* port) : port_(transfer.port_) {
            port_ = port;
        }
        ~CancelReach() { port_ = nullptr; }
        CancelReach(const CancelReach&) = delete;
        CancelReach& operator=(const CancelReach&) = delete;

      private:
        std::atomic<serial::SerialPort*>& port_;
    };

    // One block of n bytes, already in the engine's WriteDataArea, with up to four attempts;
    // true on success (or cancel), false with the message written.
    bool WriteBlock(uint32_t address, uint32_t n);

  private:
    zimp::ZimpEngine& engine_;
    std::atomic<bool> cancelled_{false};
    std::atomic<serial::SerialPort*> port_{nullptr};  // the engine's, while Run runs
    std::unique_ptr<uint8_t[]> raw_;                  // a compressed load's raw chunk
    uint32_t rawSize_ = 0;
};

}  // namespace memops
