#include "zimp/ZimpFrame.h"

#include <cstring>

namespace zimp {

uint8_t Checksum(const uint8_t* bytes, size_t len) {
    uint8_t sum = 0;
    for (size_t i = 0; i < len; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return static_cast<uint8_t>(0xFF - sum);
}

uint32_t FrameLength(const uint8_t* bytes, size_t len) {
    if (len == 0)
        return 0;
    const uint8_t header = bytes[0];
    const uint32_t opLen = OpcodeLength(header);
    const uint8_t n = header & 0x0F;
    if (n != kExtendedLength)
        return opLen + n;
    if (len < opLen + 2)
        return 0;
    const uint32_t l = (uint32_t(bytes[opLen]) << 8) | bytes[opLen + 1];
    return opLen + 2 + l;
}

uint32_t FrameRequest(const uint8_t* bytes, size_t len, uint8_t* out, size_t outCapacity) {
    const uint32_t d = FrameLength(bytes, len);
    if (d == 0 || d > outCapacity)
        return 0;
    // A request may already lie in out (framed where it was built).
    if (len + 1 == d) {
        if (out != bytes)
            std::memcpy(out, bytes, len);
        out[len] = Checksum(out, len);
        return d;
    }
    if (len == d && (bytes[0] & 0x0F) == 0) {
        if (out != bytes)
            std::memcpy(out, bytes, len);
        return d;
    }
    return 0;
}

void ReplyParser::Reset() {
    state_ = State::First;
    opcode_ = 0;
    lengthCode_ = 0;
    sum_ = 0;
    payloadToGo_ = 0;
    extended_ = 0;
}

ReplyParser::Step ReplyParser::StartPayload(uint32_t count) {
    payloadToGo_ = count;
    state_ = count ? State::Payload : State::Checksum;
    return Step::More;
}

ReplyParser::Step ReplyParser::AfterOpcode() {
    if (lengthCode_ == kExtendedLength) {
        state_ = State::LengthHigh;
        return Step::More;
    }
    if (lengthCode_ == 0) {
        state_ = State::Done;
        return Step::OpcodeOnly;
    }
    return StartPayload(lengthCode_ - 1u);
}

ReplyParser::Step ReplyParser::Feed(uint8_t byte) {
    switch (state_) {
        case State::First:
        case State::Done:
            Reset();
            sum_ = byte;
            opcode_ = static_cast<uint16_t>(byte << 8);
            lengthCode_ = byte & 0x0F;
            if (HasTwoByteOpcode(byte)) {
                state_ = State::SecondOpcode;
                return Step::More;
            }
            return AfterOpcode();
        case State::SecondOpcode:
            sum_ = static_cast<uint8_t>(sum_ + byte);
            opcode_ = static_cast<uint16_t>(opcode_ | byte);
            return AfterOpcode();
        case State::LengthHigh:
            sum_ = static_cast<uint8_t>(sum_ + byte);
            extended_ = static_cast<uint16_t>(byte << 8);
            state_ = State::LengthLow;
            return Step::More;
        case State::LengthLow:
            sum_ = static_cast<uint8_t>(sum_ + byte);
            extended_ = static_cast<uint16_t>(extended_ | byte);
            // A length of 0 cannot even count its checksum: everything that follows is
            // payload until the line falls silent.
            return StartPayload(extended_ == 0 ? kUnbounded : extended_ - 1u);
        case State::Payload:
            sum_ = static_cast<uint8_t>(sum_ + byte);
            if (payloadToGo_ != kUnbounded && --payloadToGo_ == 0)
                state_ = State::Checksum;
            return Step::Payload;
        case State::Checksum:
            sum_ = static_cast<uint8_t>(sum_ + byte);
            state_ = State::Done;
            return sum_ == 0xFF ? Step::Good : Step::BadChecksum;
    }
    return Step::More;
}

}  // namespace zimp
