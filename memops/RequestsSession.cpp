#include "memops/RequestsSession.h"

#include <cstdio>
#include <iomanip>

#include "memops/FieldChecks.h"
#include "memops/Startup.h"
#include "platform/HexText.h"
#include "streams/MessageStreams.h"

using serial::SerialPort;

using streams::Configuration;
using streams::msgout;

namespace memops {

namespace {
std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}
}  // namespace

bool CheckHexField(const std::string& text, size_t limit, std::string& trimmed) {
    trimmed = Trim(text);
    if (trimmed.size() > limit) {
        msgout() << std::dec << "Number of caracters must be less than " << limit << "\n";
        return false;
    }
    if (trimmed.size() % 2 != 0) {
        msgout() << "The number of caracters must be even\n";
        return false;
    }
    for (char c : trimmed) {
        if (platform::HexDigitValue(c) < 0) {
            msgout() << "Characters must be in hex format( 0-9, a-f)\n";
            return false;
        }
    }
    return true;
}

bool CheckCounter(const std::string& text, uint32_t& counter) {
    long long v = 0;
    if (!CheckIntegerField(text, IntegerKind::Signed, 1, 255, v))
        return false;
    counter = static_cast<uint32_t>(v);
    return true;
}

RequestsSession::RequestsSession(SerialPort* port, Configuration* profile)
    : port_(port), profile_(profile) {}

RequestsSession::~RequestsSession() {
    Close();
}

bool RequestsSession::Open() {
    if (port_ == nullptr || profile_ == nullptr) {
        msgout() << "You have to set port and profile\n";
        return false;
    }
    const std::optional<bool> echo = ReadEcho(*profile_);
    if (!echo)
        return false;  // the refused value is on the message stream
    if (std::string a = profile_->ReadText("configuration", "LastAddress", 255); !a.empty())
        lastAddress_ = a;
    lastData_ = profile_->ReadText("configuration", "LastData", 255);
    profile_->ReadInteger("configuration", "LastCounter", lastCounter_);
    profile_->clear();
    engine_.Attach(port_, *echo);
    open_ = true;
    return true;
}

void RequestsSession::Close() {
    if (!open_)
        return;
    open_ = false;
    profile_->clear();
    profile_->SelectSection("configuration");
    profile_->SelectKey("LastAddress");
    *profile_ << lastAddress_;
    profile_->SelectKey("LastData");
    *profile_ << lastData_;
    profile_->SelectKey("LastCounter");
    *profile_ << std::dec << lastCounter_ << '\n';
    profile_->clear();
    engine_.Detach();
}

void RequestsSession::Abort() {
    if (port_)
        port_->AbortAll();
}

RequestOutcome RequestsSession::Run(ZimpRequest request, const std::string& addressText,
                                    const std::string& dataText, const std::string& counterText,
                                    RequestsView& view) {
    if (running_)
        return RequestOutcome::Busy;
    outcome_ = RequestOutcome::Failed;
    readData_.clear();
    Fields fields;
    if (!CheckFields(addressText, dataText, counterText, fields))
        return outcome_ = RequestOutcome::Refused;
    running_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{running_};
    lastCounter_ = fields.counter;
    lastData_ = fields.data;

    if (profile_)
        ApplyWriteResponseTimeout(*profile_, engine_);  // each request is an operation of its own
    view.SetStatusText("Waiting Response");
    // A device that went away is opened again, and a late answer to an aborted request is
    // not taken for this one's.
    if (port_)
        port_->PrepareForOperation();
    const uint32_t addr = ShowAddress(fields.address, view);
    msgout() << std::hex << std::setfill('0') << std::nouppercase;  // the requests' format, kept
    Send(request, addr, fields, view);
    view.SetStatusText("Ready");
    return outcome_;
}

bool RequestsSession::CheckFields(const std::string& addressText, const std::string& dataText,
                                  const std::string& counterText, Fields& fields) {
    failedField_ = RequestsField::Counter;
    if (!CheckCounter(counterText, fields.counter))
        return false;
    failedField_ = RequestsField::Address;
    if (!CheckHexField(addressText, kAddressLimit, fields.address))
        return false;
    failedField_ = RequestsField::Data;
    if (!CheckHexField(dataText, kDataLimit, fields.data))
        return false;
    failedField_ = RequestsField::None;
    return true;
}

uint32_t RequestsSession::ShowAddress(const std::string& address, RequestsView& view) {
    uint32_t addr = 0;
    platform::ParseHexNumber(address, addr, {.prefix = false, .emptyIsZero = true});
    char field[16];
    std::snprintf(field, sizeof field, "%06x", addr);
    lastAddress_ = field;
    view.SetAddressField(field);
    view.SetAddressResponse("");
    return addr;
}

void RequestsSession::Send(ZimpRequest request, uint32_t addr, const Fields& fields,
                           RequestsView& view) {
    std::ostream& out = msgout();
    switch (request) {
        case ZimpRequest::Read:
            ReadStep(addr, fields.counter, view);
            break;
        case ZimpRequest::CheckSum: {
            uint16_t sum = 0;
            engine_.GetChecksum(addr, fields.counter, sum, kReplyTimeoutMs);
            if (!Failed()) {
                out << "Check Sum: " << sum << "\n";
                outcome_ = RequestOutcome::Succeeded;
            }
            break;
        }
        case ZimpRequest::Configuration: {
            uint16_t length = 0;
            engine_.GetConfiguration(length, kReplyTimeoutMs);
            if (!Failed()) {
                out << "Buffer Length is 0x" << std::setw(4) << length << "\n";
                outcome_ = RequestOutcome::Succeeded;
            }
            break;
        }
        case ZimpRequest::Status: {
            uint8_t status = 0;
            uint32_t at = 0;
            engine_.GetStatus(status, at, kReplyTimeoutMs);
            if (!Failed()) {
                out << "Address is 0x" << std::setw(8) << at << "\rStatus is 0x" << std::setw(2)
                    << unsigned(status) << "\n";
                outcome_ = RequestOutcome::Succeeded;
            }
            break;
        }
        case ZimpRequest::EraseFlash:
        case ZimpRequest::ZeroFlash:
        case ZimpRequest::WriteData:
            WriteStep(request, addr, fields.data, view);
            break;
        case ZimpRequest::FreeRequest:
            outcome_ = RequestOutcome::Succeeded;
            break;
    }
}

void RequestsSession::ReadStep(uint32_t addr, uint32_t counter, RequestsView& view) {
    view.AppendResponse("\r\n>");
    std::vector<uint8_t> buf(counter);
    uint32_t n = engine_.ReadMemory(addr, buf.data(), counter, kReplyTimeoutMs);
    if (Failed())
        return;
    view.AppendResponse(platform::HexText(buf.data(), n));
    readData_.assign(buf.begin(), buf.begin() + n);
    outcome_ = RequestOutcome::Succeeded;
}

void RequestsSession::WriteStep(ZimpRequest request, uint32_t addr, const std::string& data,
                                RequestsView& view) {
    view.SetAddressResponse("");
    zimp::RequestResult sent;
    if (request == ZimpRequest::EraseFlash) {
        sent = engine_.EraseFlash();
    } else if (request == ZimpRequest::ZeroFlash) {
        sent = engine_.ZeroFlash();
    } else {
        std::vector<uint8_t> bytes;
        platform::HexToBytes(data, bytes);
        sent = engine_.WriteData(addr, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    if (sent == zimp::RequestResult::Acknowledged)
        WriteResponseStep(view);
    else
        engine_.ReportError();
}

bool RequestsSession::Failed() {
    // An aborted wait is reported by nobody, yet nothing arrived: its fields stay as they were.
    return engine_.ReportError() || engine_.RequestResult() == zimp::RequestResult::LinkFailure;
}

void RequestsSession::WriteResponseStep(RequestsView& view) {
    uint32_t at = 0;
    engine_.AwaitWriteResponse(at);
    if (Failed())
        return;
    responseAddress_ = at;
    char text[16];
    std::snprintf(text, sizeof text, "%x", at);
    view.SetAddressResponse(text);
    if (engine_.RequestResult() == zimp::RequestResult::BadWrite) {
        outcome_ = RequestOutcome::BadWrite;
        msgout() << "Bad Write Response\n";
    } else {
        outcome_ = RequestOutcome::Succeeded;
    }
}

}  // namespace memops
