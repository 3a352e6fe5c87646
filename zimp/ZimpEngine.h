#pragma once
// The ZIMP protocol engine: sends one request frame and waits for its acknowledgement,
// receives and checks reply frames, classifies every outcome into LinkError (line level)
// and RequestResult (request level), and turns the last outcome into a user message.
//
// An engine is attached to the port for the length of one operation and used from one thread
// at a time. Every wait goes through the port's workers, so SerialPort::AbortAll from another
// thread (or from the user interface through the port's pump) ends it with LinkError::Aborted.
//
// Use from the operations built on it:
//   engine.Attach(&port, echo);
//   if (engine.WriteData(address, data, n) == zimp::RequestResult::Acknowledged) {
//       uint32_t at;
//       engine.AwaitWriteResponse(at);
//   }
//   if (engine.ReportError()) ...   // a message has been written; stop
//   engine.Detach();

#include <cstdint>
#include <string>
#include <string_view>

#include "serial/SerialPort.h"
#include "zimp/ReceiveBuffer.h"
#include "zimp/ZimpFrame.h"

namespace zimp {

// Outcome of the last send or receive, at line level.
enum class LinkError : uint32_t {
    None = 0,
    LineError = 1,     // the port reported line-error bits
    Nak = 2,           // acknowledgement byte was not 0x50
    Checksum = 3,      // reply checksum error
    AckTimeout = 4,    // no acknowledgement (or echo) in time
    ReplyTimeout = 5,  // a reply byte did not come in time
    Aborted = 6,       // the wait was aborted by the user
    NoPort = 7,        // no open port, or request too long
    PortGone = 8,      // the port's device went away (unplugged, its far side closed)
};

// Outcome of the last request as its caller sees it.
enum class RequestResult : int32_t {
    Acknowledged = 1,        // request without a reply accepted
    ReplyOk = 0,             // reply with an expected opcode
    LinkFailure = -1,        // see LinkError()
    ReplyTimedOut = -2,      // the first reply byte did not come in time
    BadRequest = -3,         // malformed, or the port took no bytes
    BadReplyFormat = -4,     // payload shorter than the request needs
    UnsupportedOpcode = -5,  // the radio answered 0xF186
    BadWrite = -6,           // the radio answered 0xF485
    UnwelcomeReply = -7,     // other opcode, or a Read of another address
};

// The code's number, where it is shown or stored as one.
constexpr uint32_t ToInteger(LinkError e) {
    return static_cast<uint32_t>(e);
}
constexpr int32_t ToInteger(RequestResult r) {
    return static_cast<int32_t>(r);
}

class ZimpEngine {
  public:
    // Reply time-out meaning "wait for the first reply byte until it comes or an abort".
    static constexpr uint32_t kNoLimit = 0xFFFFFFFFu;
    static constexpr uint32_t kAckTimeoutMs = 3000;
    // Replies never get less than this per byte: a USB adapter's latency timer or a busy
    // UART can hold a byte back that long even at high rates.
    static constexpr uint32_t kMinByteTimeoutMs = 20;
    // Default waits for a write response: a chip erase can take minutes, a block write not.
    static constexpr uint32_t kWriteResponseMs = 60000;
    static constexpr uint32_t kEraseResponseMs = 600000;
    // Largest "Write Data" payload that still frames (8,224 bytes on the wire).
    static constexpr uint32_t kMaxWriteData = zimp::kMaxFrameLength - 8;
    // FF 17, the length and the address ahead of a "Write Data" payload.
    static constexpr uint32_t kWriteDataHeader = 7;
    static constexpr uint32_t kWriteDataSlack = 32;

    ZimpEngine() = default;
    ZimpEngine(const ZimpEngine&) = delete;
    ZimpEngine& operator=(const ZimpEngine&) = delete;

    // No port: LinkError::NoPort and false. The engine does not own the port.
    bool Attach(serial::SerialPort* port, bool echo);
    void Detach();
    bool IsAttached() const { return port_ != nullptr; }
    serial::SerialPort* Port() const { return port_; }
    // The echo option: the line returns every request byte ahead of the acknowledgement.
    void SetEcho(bool echo) { echoOn_ = echo; }
    bool Echo() const { return echoOn_; }

    // Frames one request (checksum appended) and waits for its acknowledgement.
    bool SendRequest(const uint8_t* bytes, uint32_t len);
    // Receives and checks one reply frame into the receive buffer. The first byte is awaited
    // for firstByteMs (kNoLimit: until it comes or an abort); when that passes,
    // LinkError::ReplyTimeout, and the request operations report ReplyTimedOut.
    bool ReceiveReply(uint32_t firstByteMs = kNoLimit);
    // ReceiveReply, then moves up to len payload bytes, oldest first, into buf; 0 on failure.
    uint32_t ReceiveReplyInto(uint8_t* buf, uint32_t len, uint32_t firstByteMs = kNoLimit);
    // SendRequest; Acknowledged, LinkFailure for a link error, BadRequest otherwise.
    zimp::RequestResult Transact(const uint8_t* bytes, uint32_t len);
    // ReceiveReplyInto and judges the opcode word: ReplyOk for opA (or opB when not 0),
    // UnsupportedOpcode for 0xF186, UnwelcomeReply for any other, LinkFailure or
    // ReplyTimedOut for a link error. Returns the bytes moved.
    uint32_t ReceiveExpected(uint16_t opA, uint16_t opB, uint8_t* buf, uint32_t len,
                             uint32_t firstByteMs = kNoLimit);
    // Writes the message for the current codes on the message stream; true when the caller
    // must treat them as a failure. A user abort and a bad write write nothing.
    bool ReportError() const;

    // The request operations. replyTimeoutMs bounds the wait for the first reply byte.
    // "Read" of count (1 to 255) bytes; returns the data bytes placed in dest.
    uint32_t ReadMemory(uint32_t address, uint8_t* dest, uint32_t count,
                        uint32_t replyTimeoutMs = kNoLimit);
    zimp::RequestResult GetChecksum(uint32_t address, uint32_t length, uint16_t& sum,
                                    uint32_t replyTimeoutMs = kNoLimit);
    zimp::RequestResult GetConfiguration(uint16_t& bufferLength,
                                         uint32_t replyTimeoutMs = kNoLimit);
    zimp::RequestResult GetStatus(uint8_t& status, uint32_t& address,
                                  uint32_t replyTimeoutMs = kNoLimit);
    // These return after the acknowledgement; AwaitWriteResponse takes the write response.
    zimp::RequestResult EraseFlash();
    zimp::RequestResult ZeroFlash();
    zimp::RequestResult WriteData(uint32_t address, const uint8_t* data, uint32_t n);
    // The payload of the next "Write Data" frame, in the engine's own frame buffer (room for
    // kMaxWriteData + kWriteDataSlack bytes, so that a compressor's worst case fits even when
    // it turns out too long to send): a caller that puts its n bytes there sends them with
    // SendWriteData, and sends them again after a NAK without putting them there again.
    uint8_t* WriteDataArea() { return transmit_ + kWriteDataHeader; }
    zimp::RequestResult SendWriteData(uint32_t address, uint32_t n);
    // Waits for the write response of the last of these requests, up to its time-out (an
    // erase's or a write's, see SetWriteResponseTimeouts): ReplyTimedOut when it passes; an
    // abort ends it at once. On BadWrite address is the one the radio failed at.
    zimp::RequestResult AwaitWriteResponse(uint32_t& address);
    // Bounds of the write-response wait after "Write Data" (and the end marker) and after
    // "Erase Flash" or "Zero Flash"; kNoLimit waits until the response or an abort.
    void SetWriteResponseTimeouts(uint32_t writeMs, uint32_t eraseMs) {
        writeResponseMs_ = writeMs;
        eraseResponseMs_ = eraseMs;
    }
    uint32_t WriteResponseTimeout() const { return writeResponseMs_; }
    uint32_t EraseResponseTimeout() const { return eraseResponseMs_; }

    zimp::LinkError LinkError() const { return linkError_; }
    zimp::RequestResult RequestResult() const { return requestResult_; }
    // Sets both codes, for a caller that reports an outcome of its own through ReportError.
    void SetOutcome(zimp::LinkError linkError, zimp::RequestResult requestResult) {
        linkError_ = linkError;
        requestResult_ = requestResult;
    }
    // Opcode word of the last reply (its first byte alone for a one-byte opcode).
    uint16_t OpcodeWord() const { return parser_.Opcode(); }
    // Payload of the last reply not yet taken, oldest first.
    uint32_t PayloadSize() const { return receive_.Size(); }
    uint32_t TakePayload(uint8_t* buf, uint32_t len) { return receive_.Take(buf, len); }
    const zimp::ReceiveBuffer& ReplyBuffer() const { return receive_; }

  private:
    bool PortUsable() const;
    // After a transfer that moved too little: true (with LinkError::PortGone) when the reason
    // is that the device went away.
    bool DeviceWentAway();
    zimp::RequestResult ReplyRequest(const uint8_t* request, uint32_t len, uint16_t expected,
                                     uint8_t* area, uint32_t need, uint32_t replyTimeoutMs);

    serial::SerialPort* port_ = nullptr;
    bool echoOn_ = false;
    uint8_t transmit_[zimp::kMaxFrameLength + kWriteDataSlack] = {};
    // The open run of the port's trace was this frame.
    void Traced(trace::Direction direction, std::string_view what) const;
    // ReceiveReply without its trace label.
    bool ReceiveFrame(uint32_t firstByteMs);
    uint8_t echo_[zimp::kMaxFrameLength] = {};  // the echoed frame, whose bytes are not used
    zimp::ReceiveBuffer receive_;
    zimp::ReplyParser parser_;
    zimp::LinkError linkError_ = zimp::LinkError::None;
    zimp::RequestResult requestResult_ = zimp::RequestResult::ReplyOk;
    bool firstByteTimedOut_ = false;
    std::string goneName_;  // the port that went away, for its message
    uint32_t writeResponseMs_ = kWriteResponseMs;
    uint32_t eraseResponseMs_ = kEraseResponseMs;
    bool awaitingErase_ = false;  // the last write-type request was an erase or a zeroing
};

}  // namespace zimp
