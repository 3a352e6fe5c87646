// The request operations of ZimpEngine: one per ZIMP request.

#include <algorithm>
#include <cstring>

#include "zimp/ZimpEngine.h"

namespace zimp {

namespace {

using Link = zimp::LinkError;
using Result = zimp::RequestResult;

void PutAddress(uint8_t* at, uint32_t address) {
    at[0] = static_cast<uint8_t>(address >> 16);
    at[1] = static_cast<uint8_t>(address >> 8);
    at[2] = static_cast<uint8_t>(address);
}

uint32_t GetAddress(const uint8_t* at) {
    return (uint32_t(at[0]) << 16) | (uint32_t(at[1]) << 8) | at[2];
}

// Only the low 20 bits name the location; bits 20-23 select the memory and a radio may
// answer with another memory code.
constexpr uint32_t kAddressMatchMask = 0xFFFFF;

}  // namespace

Result ZimpEngine::ReplyRequest(const uint8_t* request, uint32_t len, uint16_t expected,
                                uint8_t* area, uint32_t need, uint32_t replyTimeoutMs) {
    if (Transact(request, len) != Result::Acknowledged)
        return requestResult_;
    const uint32_t moved = ReceiveExpected(expected, 0, area, need, replyTimeoutMs);
    if (requestResult_ != Result::ReplyOk)
        return requestResult_;
    if (moved < need)
        requestResult_ = Result::BadReplyFormat;
    return requestResult_;
}

uint32_t ZimpEngine::ReadMemory(uint32_t address, uint8_t* dest, uint32_t count,
                                uint32_t replyTimeoutMs) {
    if (count == 0)
        return 0;
    if (count > 0xFF) {
        // The count is one byte on the wire; a larger one would read the wrong amount.
        linkError_ = Link::None;
        requestResult_ = Result::BadRequest;
        return 0;
    }
    uint8_t request[6] = {0xF5, 0x11, static_cast<uint8_t>(count)};
    PutAddress(request + 3, address);
    uint8_t echoed[3];
    if (ReplyRequest(request, sizeof request, zimp::kOpReadReply, echoed, 3, replyTimeoutMs) !=
        Result::ReplyOk)
        return 0;
    if (((GetAddress(echoed) ^ address) & kAddressMatchMask) != 0) {
        requestResult_ = Result::UnwelcomeReply;
        return 0;
    }
    return receive_.Take(dest, count);
}

Result ZimpEngine::GetChecksum(uint32_t address, uint32_t length, uint16_t& sum,
                               uint32_t replyTimeoutMs) {
    if (length > 0xFFFF) {
        // The length is 16 bits on the wire; a larger one would sum another range.
        linkError_ = Link::None;
        return requestResult_ = Result::BadRequest;
    }
    uint8_t request[7] = {0xF6, 0x12, static_cast<uint8_t>(length >> 8),
                          static_cast<uint8_t>(length)};
    PutAddress(request + 4, address);
    uint8_t value[2];
    if (ReplyRequest(request, sizeof request, zimp::kOpChecksumReply, value, 2, replyTimeoutMs) ==
        Result::ReplyOk)
        sum = static_cast<uint16_t>((value[0] << 8) | value[1]);
    return requestResult_;
}

Result ZimpEngine::GetConfiguration(uint16_t& bufferLength, uint32_t replyTimeoutMs) {
    static constexpr uint8_t request[2] = {0xF1, 0x13};
    uint8_t value[2];
    if (ReplyRequest(request, sizeof request, zimp::kOpConfigurationReply, value, 2,
                     replyTimeoutMs) == Result::ReplyOk)
        bufferLength = static_cast<uint16_t>((value[0] << 8) | value[1]);
    return requestResult_;
}

Result ZimpEngine::GetStatus(uint8_t& status, uint32_t& address, uint32_t replyTimeoutMs) {
    static constexpr uint8_t request[2] = {0xF1, 0x14};
    uint8_t value[4];
    if (ReplyRequest(request, sizeof request, zimp::kOpStatusReply, value, 4, replyTimeoutMs) ==
        Result::ReplyOk) {
        status = value[0];
        address = GetAddress(value + 1);
    }
    return requestResult_;
}

Result ZimpEngine::EraseFlash() {
    static constexpr uint8_t request[2] = {0xF1, 0x15};
    awaitingErase_ = true;
    return Transact(request, sizeof request);
}

Result ZimpEngine::ZeroFlash() {
    static constexpr uint8_t request[2] = {0xF1, 0x16};
    awaitingErase_ = true;
    return Transact(request, sizeof request);
}

Result ZimpEngine::WriteData(uint32_t address, const uint8_t* data, uint32_t n) {
    if (n > kMaxWriteData) {
        // Would not frame; refused as SendRequest refuses it.
        linkError_ = Link::NoPort;
        return requestResult_ = Result::LinkFailure;
    }
    if (n && data != WriteDataArea())
        std::memmove(WriteDataArea(), data, n);
    return SendWriteData(address, n);
}

Result ZimpEngine::SendWriteData(uint32_t address, uint32_t n) {
    if (n > kMaxWriteData) {
        linkError_ = Link::NoPort;
        return requestResult_ = Result::LinkFailure;
    }
    awaitingErase_ = false;
    uint8_t* request = transmit_;
    request[0] = 0xFF;
    request[1] = 0x17;
    request[2] = static_cast<uint8_t>((n + 4) >> 8);
    request[3] = static_cast<uint8_t>(n + 4);
    PutAddress(request + 4, address);
    // Framed where it lies: SendRequest appends the checksum behind the payload.
    return Transact(request, n + kWriteDataHeader);
}

Result ZimpEngine::AwaitWriteResponse(uint32_t& address) {
    uint8_t value[3];
    const uint32_t moved = ReceiveExpected(zimp::kOpWritten, zimp::kOpBadWrite, value, 3,
                                           awaitingErase_ ? eraseResponseMs_ : writeResponseMs_);
    if (requestResult_ != Result::ReplyOk)
        return requestResult_;
    if (moved < 3)
        return requestResult_ = Result::BadReplyFormat;
    address = GetAddress(value);
    if (parser_.Opcode() == zimp::kOpBadWrite)
        requestResult_ = Result::BadWrite;
    return requestResult_;
}

}  // namespace zimp
