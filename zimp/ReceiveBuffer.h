#pragma once
// The reply payload queue: starts at 257 bytes, grows in steps of 32 up to 65,535 and goes
// back to 257 when emptied. Bytes beyond the limit are dropped.

#include <cstdint>
#include <memory>

namespace zimp {

class ReceiveBuffer {
  public:
    static constexpr uint32_t kInitial = 257;
    static constexpr uint32_t kStep = 32;
    static constexpr uint32_t kLimit = 65535;

    ReceiveBuffer();  // the process ends through ReportOutOfMemory when this cannot allocate
    ReceiveBuffer(const ReceiveBuffer&) = delete;
    ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

    // false when the byte was dropped (buffer at its limit).
    bool Push(uint8_t byte);
    // Moves up to n bytes, oldest first, into out; returns how many.
    uint32_t Take(uint8_t* out, uint32_t n);
    void Clear();

    uint32_t Size() const { return tail_ - head_; }
    uint32_t Capacity() const { return capacity_; }
    // Bytes dropped since the last Clear (or since the buffer was last emptied).
    uint32_t Dropped() const { return dropped_; }
    // The queued bytes, oldest first; Size() of them.
    const uint8_t* Data() const { return storage_.get() + head_; }

  private:
    void Resize(uint32_t capacity);  // an exhausted heap ends the process

    std::unique_ptr<uint8_t[]> storage_;
    uint32_t capacity_ = 0;
    uint32_t head_ = 0, tail_ = 0;
    uint32_t dropped_ = 0;
};

}  // namespace zimp
