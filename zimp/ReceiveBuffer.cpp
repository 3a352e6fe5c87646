#include "zimp/ReceiveBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "streams/MessageStreams.h"

using streams::NewArrayOrExit;

namespace zimp {

ReceiveBuffer::ReceiveBuffer() {
    Resize(kInitial);
}

void ReceiveBuffer::Resize(uint32_t capacity) {
    auto* fresh = NewArrayOrExit<uint8_t>("ZIMP", capacity);
    const uint32_t size = Size();
    if (size)
        std::memcpy(fresh, storage_.get() + head_, size);
    storage_.reset(fresh);
    capacity_ = capacity;
    head_ = 0;
    tail_ = size;
}

bool ReceiveBuffer::Push(uint8_t byte) {
    if (tail_ == capacity_) {
        if (head_ > 0) {
            std::memmove(storage_.get(), storage_.get() + head_, Size());
            tail_ -= head_;
            head_ = 0;
        } else if (capacity_ < kLimit) {
            Resize(std::min(capacity_ + kStep, kLimit));
        } else {
            ++dropped_;
            return false;
        }
    }
    storage_[tail_++] = byte;
    return true;
}

uint32_t ReceiveBuffer::Take(uint8_t* out, uint32_t n) {
    const uint32_t count = std::min(n, Size());
    if (count)
        std::memcpy(out, storage_.get() + head_, count);
    head_ += count;
    if (head_ == tail_)
        Clear();
    return count;
}

void ReceiveBuffer::Clear() {
    head_ = tail_ = 0;
    dropped_ = 0;
    if (capacity_ != kInitial)
        Resize(kInitial);
}

}  // namespace zimp
