#pragma once
// Collects ZIMP request frames on the radio's side of the line. Written apart from the
// engine's framing, so that each side checks the other.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace radio {

class FrameReader {
  public:
    // Largest frame the format can describe: two opcode bytes, a 16-bit length and its count.
    static constexpr size_t kMaxFrame = 2 + 2 + 0xFFFF;

    enum class Result { Partial, Frame, BadChecksum };

    // A partial frame older than idleMs is dropped before the next byte: the line resynchronises
    // after a silence.
    explicit FrameReader(uint32_t idleMs) : idleMs_(idleMs) {}

    Result Push(uint8_t byte, uint64_t nowMs);
    // Takes the leading bytes that Push would only add to the partial frame (none of them
    // ends it) in one step; returns how many it took, 0 when the next byte needs Push.
    size_t PushWithin(const uint8_t* bytes, size_t n, uint64_t nowMs);
    // Drops a partial frame that has been quiet for idleMs; true when one was dropped.
    bool Expire(uint64_t nowMs);

    // The frame completed by the last Push (Frame or BadChecksum).
    const std::vector<uint8_t>& Frame() const { return frame_; }
    bool HasPartial() const { return !frame_.empty() && !complete_; }
    uint64_t DroppedPartials() const { return dropped_; }

  private:
    // Frame length once enough of the header is in, else 0.
    size_t Expected() const;

    uint32_t idleMs_;
    std::vector<uint8_t> frame_;
    bool complete_ = false;
    uint64_t lastByteMs_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace radio
