#pragma once
// The ZIMP protocol engine: sends one request frame and waits for its acknowledgement,
// receives and checks reply frames, classifies every outcome into LinkError (line level)
// and RequestResult (request level), and turns the last outcome into a user message.
//
// An engine is attached to the port for the length of one operation and used from one thread
// at a time. Every wait goes through the port's workers, so SerialPort::AbortAll from another
// thread (or from the user interface through the port's pump) ends it with LinkError 6.
//
// Use from the operations built on it:
//   engine.Attach(&port, echo);
//   if (engine.WriteData(address, data, n) == ZimpEngine::kAcknowledged) {
//       uint32_t at;
//       engine.AwaitWriteResponse(at);
//   }
//   if (engine.ReportError()) ...   // a message has been written; stop
//   engine.Detach();

#include <cstdint>

#include "serial/SerialPort.h"
#include "zimp/ReceiveBuffer.h"
#include "zimp/ZimpFrame.h"

class ZimpEngine {
  public:
    // LinkError codes.
    static constexpr uint32_t kLinkNone = 0;
    static constexpr uint32_t kLinkLineError = 1;     // the port reported line-error bits
    static constexpr uint32_t kLinkNak = 2;           // acknowledgement byte was not 0x50
    static constexpr uint32_t kLinkChecksum = 3;      // reply checksum error
    static constexpr uint32_t kLinkAckTimeout = 4;    // no acknowledgement (or echo) in time
    static constexpr uint32_t kLinkReplyTimeout = 5;  // a reply byte did not come in time
    static constexpr uint32_t kLinkAborted = 6;       // the wait was aborted by the user
    static constexpr uint32_t kLinkNoPort = 7;        // no open port, or request too long

    // RequestResult codes.
    static constexpr int32_t kAcknowledged = 1;        // request without a reply accepted
    static constexpr int32_t kReplyOk = 0;             // reply with an expected opcode
    static constexpr int32_t kLinkFailure = -1;        // see LinkError()
    static constexpr int32_t kReplyTimedOut = -2;      // the first reply byte did not come in time
    static constexpr int32_t kBadRequest = -3;         // malformed, or the port took no bytes
    static constexpr int32_t kBadReplyFormat = -4;     // payload shorter than the request needs
    static constexpr int32_t kUnsupportedOpcode = -5;  // the radio answered 0xF186
    static constexpr int32_t kBadWrite = -6;           // the radio answered 0xF485
    static constexpr int32_t kUnwelcomeReply = -7;     // other opcode, or a Read of another address

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

    ZimpEngine() = default;
    ZimpEngine(const ZimpEngine&) = delete;
    ZimpEngine& operator=(const ZimpEngine&) = delete;

    // No port: LinkError 7 and false. The engine does not own the port.
    bool Attach(SerialPort* port, bool echo);
    void Detach();
    bool IsAttached() const { return port_ != nullptr; }
    SerialPort* Port() const { return port_; }
    // The echo option: the line returns every request byte ahead of the acknowledgement.
    void SetEcho(bool echo) { echo_ = echo; }
    bool Echo() const { return echo_; }

    // Frames one request (checksum appended) and waits for its acknowledgement.
    bool SendRequest(const uint8_t* bytes, uint32_t len);
    // Receives and checks one reply frame into the receive buffer. The first byte is awaited
    // for firstByteMs (kNoLimit: until it comes or an abort); when that passes, LinkError 5
    // and the request operations report -2.
    bool ReceiveReply(uint32_t firstByteMs = kNoLimit);
    // ReceiveReply, then moves up to len payload bytes, oldest first, into buf; 0 on failure.
    uint32_t ReceiveReplyInto(uint8_t* buf, uint32_t len, uint32_t firstByteMs = kNoLimit);
    // SendRequest; RequestResult 1 when acknowledged, -1 for a link error, -3 otherwise.
    int32_t Transact(const uint8_t* bytes, uint32_t len);
    // ReceiveReplyInto and judges the opcode word: 0 for opA (or opB when not 0), -5 for
    // 0xF186, -7 for any other, -1/-2 for a link error. Returns the bytes moved.
    uint32_t ReceiveExpected(uint16_t opA, uint16_t opB, uint8_t* buf, uint32_t len,
                             uint32_t firstByteMs = kNoLimit);
    // Writes the message for the current codes on the message stream; true when the caller
    // must treat them as a failure. A user abort and a bad write (-6) write nothing.
    bool ReportError() const;

    // The request operations. replyTimeoutMs bounds the wait for the first reply byte.
    // "Read" of count (1 to 255) bytes; returns the data bytes placed in dest.
    uint32_t ReadMemory(uint32_t address, uint8_t* dest, uint32_t count,
                        uint32_t replyTimeoutMs = kNoLimit);
    int32_t GetChecksum(uint32_t address, uint32_t length, uint16_t& sum,
                        uint32_t replyTimeoutMs = kNoLimit);
    int32_t GetConfiguration(uint16_t& bufferLength, uint32_t replyTimeoutMs = kNoLimit);
    int32_t GetStatus(uint8_t& status, uint32_t& address, uint32_t replyTimeoutMs = kNoLimit);
    // These return after the acknowledgement; AwaitWriteResponse takes the write response.
    int32_t EraseFlash();
    int32_t ZeroFlash();
    int32_t WriteData(uint32_t address, const uint8_t* data, uint32_t n);
    // Waits for the write response of the last of these requests, up to its time-out (an
    // erase's or a write's, see SetWriteResponseTimeouts): -2 when it passes; an abort ends
    // it at once. On -6 address is the one the radio failed at.
    int32_t AwaitWriteResponse(uint32_t& address);
    // Bounds of the write-response wait after "Write Data" (and the end marker) and after
    // "Erase Flash" or "Zero Flash"; kNoLimit waits until the response or an abort.
    void SetWriteResponseTimeouts(uint32_t writeMs, uint32_t eraseMs) {
        writeResponseMs_ = writeMs;
        eraseResponseMs_ = eraseMs;
    }
    uint32_t WriteResponseTimeout() const { return writeResponseMs_; }
    uint32_t EraseResponseTimeout() const { return eraseResponseMs_; }

    uint32_t LinkError() const { return linkError_; }
    int32_t RequestResult() const { return requestResult_; }
    // Sets both codes, for a caller that reports an outcome of its own through ReportError.
    void SetOutcome(uint32_t linkError, int32_t requestResult) {
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
    int32_t ReplyRequest(const uint8_t* request, uint32_t len, uint16_t expected, uint8_t* area,
                         uint32_t need, uint32_t replyTimeoutMs);

    SerialPort* port_ = nullptr;
    bool echo_ = false;
    uint8_t transmit_[zimp::kMaxFrameLength] = {};
    zimp::ReceiveBuffer receive_;
    zimp::ReplyParser parser_;
    uint32_t linkError_ = kLinkNone;
    int32_t requestResult_ = kReplyOk;
    bool firstByteTimedOut_ = false;
    uint32_t writeResponseMs_ = kWriteResponseMs;
    uint32_t eraseResponseMs_ = kEraseResponseMs;
    bool awaitingErase_ = false;  // the last write-type request was an erase or a zeroing
};
