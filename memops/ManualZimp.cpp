#include "memops/ManualZimp.h"

#include "memops/RequestsSession.h"
#include "platform/HexText.h"
#include "platform/SerialDevice.h"
#include "streams/MessageStreams.h"
#include "zimp/ZimpFrame.h"

using serial::PortWorkerKind;
using serial::SerialPort;

using streams::msgout;

namespace memops {

void PostedMessages::PostMessage(uint32_t message, intptr_t wParam, intptr_t lParam) {
    std::lock_guard lock(mutex_);
    queue_.push_back({message, wParam, lParam});
    ready_.Set();
}

bool PostedMessages::Take(Message& m, uint32_t ms) {
    if (!ready_.Wait(ms))
        return false;
    std::lock_guard lock(mutex_);
    if (queue_.empty())
        return false;
    m = queue_.front();
    queue_.pop_front();
    if (queue_.empty())
        ready_.Reset();
    return true;
}

bool ManualZimp::Open() {
    if (port_ == nullptr) {
        msgout() << "You have to set port\n";
        return false;
    }
    closed_ = false;
    port_->SetEventMask(platform::kEvRxChar | platform::kEvErr);
    port_->SetNotifyMessage(PortWorkerKind::Event, kEventMessage);
    PostWait();
    return true;
}

void ManualZimp::PostWait() {
    port_->PostWithMessage(PortWorkerKind::Event, &eventWord_, &target_);
}

bool ManualZimp::Send(const std::string& commandText, bool checksum) {
    reportErrors_ = true;
    std::string text;
    // The same three checks as the requests' Data field, in the same order.
    if (!CheckHexField(commandText, kMaxText, text))
        return false;
    command_ = text;
    std::vector<uint8_t> bytes;
    platform::HexToBytes(text, bytes);
    if (bytes.size() < kBufferSize && checksum)
        bytes.push_back(zimp::Checksum(bytes.data(), bytes.size()));
    sent_ = bytes;
    view_.AppendReply("\r\n>");
    if (port_ && !bytes.empty()) {
        int32_t lineError = 0;
        port_->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), lineError);
    }
    return true;
}

void ManualZimp::OnEvent(int32_t r) {
    // Aborted: the wait is not posted again. After Close, completions still queued are
    // dropped, so that none of them starts a new wait.
    if (r == SerialPort::kAborted || closed_.load())
        return;
    const uint32_t events = eventWord_;
    PostWait();
    if (!(events & platform::kEvErr)) {
        port_->SetReadTimeout(0);
        uint8_t b;
        int32_t lineError = 0;
        std::string hex;
        while (port_->Read(&b, 1, lineError) == 1)
            platform::AppendHex(hex, &b, 1, platform::HexCase::Lower);
        if (!hex.empty())
            view_.AppendReply(hex);
    } else if (reportErrors_) {
        reportErrors_ = false;
        uint32_t e = port_->ClearLineErrors();
        msgout() << "Error occures. Code " << std::hex << std::uppercase << e << std::dec
                 << std::nouppercase << "H.\n";
    }
}

void ManualZimp::Close() {
    closed_ = true;
    if (port_ == nullptr)
        return;
    port_->AbortAll();
    // The worker posts its last completion to the target: let it finish before the target
    // (the window) may go.
    port_->WaitWorkerIdle(PortWorkerKind::Event, 2000);
}

ManualZimp::~ManualZimp() {
    Close();
}

}  // namespace memops
