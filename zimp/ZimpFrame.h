#pragma once
// ZIMP frames as the engine builds and parses them: header byte H (high nibble 0xF: a
// two-byte opcode H K; low nibble N: length code), an optional 16-bit extended length,
// the payload and a checksum that brings the 8-bit sum of the whole frame to 0xFF.

#include <cstddef>
#include <cstdint>

namespace zimp {

// A request frame is at most this long, checksum included.
inline constexpr uint32_t kMaxFrameLength = 8224;
inline constexpr uint8_t kAck = 0x50;
inline constexpr uint8_t kExtendedLength = 0x0F;

// Reply opcode words (H x 256 + K, length code included).
inline constexpr uint16_t kOpReadReply = 0xFF80;
inline constexpr uint16_t kOpChecksumReply = 0xF381;
inline constexpr uint16_t kOpConfigurationReply = 0xF482;
inline constexpr uint16_t kOpWritten = 0xF484;
inline constexpr uint16_t kOpBadWrite = 0xF485;
inline constexpr uint16_t kOpStatusReply = 0xF583;
inline constexpr uint16_t kOpUnsupported = 0xF186;

inline bool HasTwoByteOpcode(uint8_t header) {
    return (header & 0xF0) == 0xF0;
}
inline uint32_t OpcodeLength(uint8_t header) {
    return HasTwoByteOpcode(header) ? 2 : 1;
}

// 0xFF minus the 8-bit sum of the bytes.
uint8_t Checksum(const uint8_t* bytes, size_t len);

// Total length d of the frame that starts with these bytes, read from its header (and from
// its extended length field). 0 when the bytes do not reach the fields needed.
uint32_t FrameLength(const uint8_t* bytes, size_t len);

// Frames a request: len == d - 1 gets the checksum appended; len == d with length code 0 is
// taken as it is. Returns d with the frame in out, or 0 for a malformed request (or an out
// buffer too small), leaving out untouched.
uint32_t FrameRequest(const uint8_t* bytes, size_t len, uint8_t* out, size_t outCapacity);

// Byte-by-byte reply parser with its running sum.
class ReplyParser {
  public:
    enum class Step {
        More,         // header, opcode or length byte taken; the frame goes on
        Payload,      // a payload byte: the caller stores it
        Good,         // checksum byte with a running sum of 0xFF
        BadChecksum,  // checksum byte, sum wrong
        OpcodeOnly,   // a frame with length code 0 ended after its opcode
    };
    static constexpr uint32_t kUnbounded = 0xFFFFFFFFu;

    void Reset();
    Step Feed(uint8_t byte);

    // True until the first byte of a frame has been fed.
    bool AwaitingFirst() const { return state_ == State::First; }
    uint16_t Opcode() const { return opcode_; }
    uint8_t LengthCode() const { return lengthCode_; }
    uint8_t Sum() const { return sum_; }
    // Payload bytes still expected before the checksum; kUnbounded for an extended length of 0
    // (a malformed reply that only the line's silence ends).
    uint32_t PayloadToGo() const { return payloadToGo_; }

  private:
    enum class State { First, SecondOpcode, LengthHigh, LengthLow, Payload, Checksum, Done };
    Step AfterOpcode();
    Step StartPayload(uint32_t count);

    State state_ = State::First;
    uint16_t opcode_ = 0;
    uint8_t lengthCode_ = 0;
    uint8_t sum_ = 0;
    uint32_t payloadToGo_ = 0;
    uint16_t extended_ = 0;
};

}  // namespace zimp
