#include "sim/radio/RadioFrameReader.h"

#include <algorithm>

#include "zimp/ZimpFrame.h"

namespace radio {

size_t FrameReader::Expected() const {
    if (frame_.empty())
        return 0;
    const unsigned h = frame_[0];
    const size_t opcode = (h >> 4) == 0xF ? 2 : 1;
    const unsigned code = h & 0xF;
    if (code < 0xF)
        return opcode + code;
    if (frame_.size() < opcode + 2)
        return 0;
    const size_t count = size_t(frame_[opcode]) << 8 | frame_[opcode + 1];
    // A count of 0 would leave no room for a checksum; the frame ends at its length field
    // and is rejected.
    return opcode + 2 + count;
}

bool FrameReader::Expire(uint64_t nowMs) {
    if (!HasPartial() || nowMs - lastByteMs_ < idleMs_)
        return false;
    frame_.clear();
    ++dropped_;
    return true;
}

size_t FrameReader::PushWithin(const uint8_t* bytes, size_t n, uint64_t nowMs) {
    if (!HasPartial() || Expire(nowMs))
        return 0;
    const size_t expected = Expected();
    if (expected == 0 || frame_.size() + 1 >= expected || frame_.size() + 1 >= kMaxFrame)
        return 0;
    const size_t k = std::min({n, expected - 1 - frame_.size(), kMaxFrame - 1 - frame_.size()});
    lastByteMs_ = nowMs;
    frame_.insert(frame_.end(), bytes, bytes + k);
    return k;
}

FrameReader::Result FrameReader::Push(uint8_t byte, uint64_t nowMs) {
    if (complete_) {
        frame_.clear();
        complete_ = false;
    }
    Expire(nowMs);
    lastByteMs_ = nowMs;
    frame_.push_back(byte);
    const size_t expected = Expected();
    if (expected == 0 || frame_.size() < expected)
        return frame_.size() >= kMaxFrame ? (complete_ = true, Result::BadChecksum)
                                          : Result::Partial;
    complete_ = true;
    const unsigned code = frame_[0] & 0xF;
    if (code == 0)
        return Result::Frame;  // a bare opcode carries no checksum
    const bool checksumOk = zimp::Checksum(frame_.data(), frame_.size() - 1) == frame_.back();
    const bool lengthZero = code == 0xF && expected == frame_.size() &&
                            frame_.size() == ((frame_[0] >> 4) == 0xF ? 4u : 3u);
    return checksumOk && !lengthZero ? Result::Frame : Result::BadChecksum;
}

}  // namespace radio
