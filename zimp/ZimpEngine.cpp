#include "zimp/ZimpEngine.h"

#include <algorithm>
#include <cstring>
#include <ios>
#include <ostream>

#include "platform/SerialDevice.h"
#include "streams/MessageStreams.h"

using serial::SerialPort;

using streams::logout;
using streams::msgout;

namespace zimp {

namespace {

using Link = zimp::LinkError;
using Result = zimp::RequestResult;
using trace::Direction;

}  // namespace

void ZimpEngine::Traced(Direction direction, std::string_view what) const {
    if (trace::WireTrace* t = port_ ? port_->Trace() : nullptr)
        t->Label(direction, what);
}

bool ZimpEngine::Attach(SerialPort* port, bool echo) {
    if (port == nullptr) {
        linkError_ = Link::NoPort;
        return false;
    }
    port_ = port;
    echoOn_ = echo;
    return true;
}

void ZimpEngine::Detach() {
    port_ = nullptr;
}

// A closed port (or one without a rate, which every time-out divides by) counts as no port.
bool ZimpEngine::PortUsable() const {
    return port_ != nullptr && port_->IsOpen() && port_->EffectiveRate() != 0;
}

bool ZimpEngine::DeviceWentAway() {
    if (port_ == nullptr || !port_->Gone())
        return false;
    linkError_ = Link::PortGone;
    goneName_ = port_->PortName();
    return true;
}

bool ZimpEngine::SendRequest(const uint8_t* bytes, uint32_t len) {
    linkError_ = Link::None;
    if (!PortUsable() || len >= zimp::kMaxFrameLength) {
        linkError_ = Link::NoPort;
        return false;
    }
    port_->Purge(platform::kPurgeRxClear);
    receive_.Clear();
    parser_.Reset();

    const uint32_t d = zimp::FrameRequest(bytes, len, transmit_, zimp::kMaxFrameLength);
    const uint32_t rate = port_->EffectiveRate();
    // About twice the frame's time on the line at 10 bits a byte.
    port_->SetWriteTimeout(zimp::FrameLength(bytes, len) * 20000u / rate);
    if (d == 0)
        return false;

    int32_t lineError = 0;
    const uint32_t written = port_->Write(transmit_, d, lineError);
    if (port_->Trace())
        Traced(Direction::Sent, "request " + trace::RequestName(transmit_, d));
    if (written == 0) {
        if (lineError == SerialPort::kAborted)
            linkError_ = Link::Aborted;
        else
            DeviceWentAway();
        return false;
    }

    // The write returns once the frame is queued; the radio has it only a line time later,
    // and the acknowledgement's time-out counts from then.
    const uint64_t lineMs = (uint64_t(d) * 10000 + rate - 1) / rate;
    port_->SetReadTimeout(static_cast<uint32_t>(kAckTimeoutMs + lineMs));
    if (echoOn_) {
        // Only the number of echoed bytes counts, not their values; the frame itself stays
        // for a resend. Like every wait of the engine, it keeps a user interface live, so
        // that its Cancel reaches it.
        const uint32_t got = port_->ReadPumping(echo_, d, lineError);
        Traced(Direction::Received, "echo");
        if (got < d) {
            if (lineError == SerialPort::kAborted) {
                linkError_ = Link::Aborted;
                return false;
            }
            if (DeviceWentAway())
                return false;
            if (lineError == 0) {
                linkError_ = Link::AckTimeout;
                return false;
            }
        }
        port_->SetReadTimeout(kAckTimeoutMs);  // the whole frame has been on the line
    }

    uint8_t ack = 0;
    const uint32_t gotAck = port_->ReadPumping(&ack, 1, lineError);
    if (gotAck)
        Traced(Direction::Received, ack == zimp::kAck ? "ack" : "NAK");
    if (gotAck == 0) {
        if (lineError == SerialPort::kAborted)
            linkError_ = Link::Aborted;
        else if (!DeviceWentAway())
            linkError_ = lineError != 0 ? Link::LineError : Link::AckTimeout;
        return false;
    }
    if (ack == zimp::kAck)
        return true;
    linkError_ = lineError != 0 ? Link::LineError : Link::Nak;
    logout() << "Returned NACK is " << std::hex << unsigned(ack) << "\n";
    return false;
}

bool ZimpEngine::ReceiveReply(uint32_t firstByteMs) {
    const bool good = ReceiveFrame(firstByteMs);
    if (port_ != nullptr && port_->Trace()) {
        const std::string name = trace::ReplyName(parser_.Opcode());
        Traced(Direction::Received,
               good                               ? "reply " + name
               : linkError_ == Link::Checksum     ? "reply " + name + " (bad checksum)"
               : linkError_ == Link::None         ? "reply " + name
               : linkError_ == Link::ReplyTimeout ? std::string("reply (cut short)")
                                                  : std::string("garbage"));
    }
    return good;
}

bool ZimpEngine::ReceiveFrame(uint32_t firstByteMs) {
    linkError_ = Link::None;
    firstByteTimedOut_ = false;
    if (!PortUsable()) {
        linkError_ = Link::NoPort;
        return false;
    }
    parser_.Reset();
    port_->SetReadTimeout(firstByteMs);
    for (;;) {
        uint8_t byte = 0;
        int32_t lineError = 0;
        const bool first = parser_.AwaitingFirst();
        if (port_->ReadPumping(&byte, 1, lineError) == 0) {
            if (lineError == SerialPort::kAborted) {
                linkError_ = Link::Aborted;
            } else if (!DeviceWentAway()) {
                linkError_ = Link::ReplyTimeout;
                firstByteTimedOut_ = first && firstByteMs != kNoLimit;
            }
            return false;
        }
        if (lineError != 0) {
            if (!DeviceWentAway())
                linkError_ = Link::LineError;
            return false;
        }
        const zimp::ReplyParser::Step step = parser_.Feed(byte);
        if (first) {
            receive_.Clear();
            if (step != zimp::ReplyParser::Step::OpcodeOnly) {
                // This value holds for the rest of the frame, never so short that a byte
                // still on its way counts as missing.
                const uint32_t perByte = parser_.LengthCode() * 50000u / port_->EffectiveRate();
                port_->SetReadTimeout(std::max(10 * perByte, kMinByteTimeoutMs));
            }
        }
        switch (step) {
            case zimp::ReplyParser::Step::More:
                break;
            case zimp::ReplyParser::Step::Payload:
                receive_.Push(byte);  // beyond the limit the byte is dropped, still summed
                break;
            case zimp::ReplyParser::Step::Good:
                return true;
            case zimp::ReplyParser::Step::BadChecksum:
                linkError_ = Link::Checksum;
                return false;
            case zimp::ReplyParser::Step::OpcodeOnly:
                // The opcode word stays set: ReceiveExpected judges the reply by it.
                return false;
        }
    }
}

uint32_t ZimpEngine::ReceiveReplyInto(uint8_t* buf, uint32_t len, uint32_t firstByteMs) {
    if (!ReceiveReply(firstByteMs))
        return 0;
    return receive_.Take(buf, len);
}

Result ZimpEngine::Transact(const uint8_t* bytes, uint32_t len) {
    if (SendRequest(bytes, len))
        requestResult_ = Result::Acknowledged;
    else
        requestResult_ = linkError_ != Link::None ? Result::LinkFailure : Result::BadRequest;
    return requestResult_;
}

uint32_t ZimpEngine::ReceiveExpected(uint16_t opA, uint16_t opB, uint8_t* buf, uint32_t len,
                                     uint32_t firstByteMs) {
    const uint32_t moved = ReceiveReplyInto(buf, len, firstByteMs);
    const uint16_t op = parser_.Opcode();
    if (linkError_ != Link::None)
        requestResult_ = firstByteTimedOut_ ? Result::ReplyTimedOut : Result::LinkFailure;
    else if (op == opA || (opB != 0 && op == opB))
        requestResult_ = Result::ReplyOk;
    else if (op == zimp::kOpUnsupported)
        requestResult_ = Result::UnsupportedOpcode;
    else
        requestResult_ = Result::UnwelcomeReply;
    return moved;
}

bool ZimpEngine::ReportError() const {
    std::ostream& out = msgout();
    switch (requestResult_) {
        case Result::Acknowledged:
        case Result::ReplyOk:
        case Result::BadWrite:
            return false;
        case Result::UnwelcomeReply:
            out << "Unwelcome Reply is received or there was a port error.\r"
                << "Try to increase block size or to reduce baudrate.\n";
            return true;
        case Result::UnsupportedOpcode:
            out << "Unsupported Opcode Reply is received.\n";
            return true;
        case Result::BadReplyFormat:
            out << "Reply Format is wrong.\n";
            return true;
        case Result::BadRequest:
            out << "Request Format is Wrong.\n";
            return true;
        case Result::ReplyTimedOut:
            out << "Reply Timeout.\n";
            return true;
        case Result::LinkFailure:
            switch (linkError_) {
                case Link::None:
                case Link::Aborted:
                    return false;
                case Link::LineError:
                    out << "Serial Port Line Error (overrun, frame, etc)\n";
                    return true;
                case Link::Nak:
                    out << "NAK is received\n";
                    return true;
                case Link::Checksum:
                    out << "Check Sum Error.\n";
                    return true;
                case Link::AckTimeout:
                    out << "ACK Timeout Error.\n";
                    return true;
                case Link::ReplyTimeout:
                    out << "Message Timeout Errror.\n";
                    return true;
                case Link::NoPort:
                    out << "Port is not open or its handler is bad.\n";
                    return true;
                case Link::PortGone:
                    out << "The port " << goneName_ << (goneName_.empty() ? "" : " ")
                        << "went away.\n";
                    return true;
                default:
                    return true;
            }
        default:
            return true;
    }
}

}  // namespace zimp
