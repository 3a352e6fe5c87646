#include "serial/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "platform/Clock.h"
#include "platform/Deadline.h"
#include "serial/PortSettingsEditor.h"
#include "streams/MessageStreams.h"

using streams::msgout;
using streams::NewOrExit;

namespace serial {

using platform::TransferStatus;

SerialPort::SerialPort() {
    platform::ParseSettingsText("baud=9600 parity=N data=8 stop=1", settings_);
}

SerialPort::~SerialPort() {
    Close();
}

uint32_t SerialPort::ByteMultiplier() const {
    uint32_t rate = EffectiveRate();
    return rate ? 1000 / rate : 0;
}

bool SerialPort::Open(const std::string& portName, uint32_t nominalRate) {
    settings_.baudRate = factor_ ? nominalRate / factor_ : 0;
    if (portName.size() > kMaxPortName) {
        Close();
        openFailure_ = {platform::OpenError::NameTooLong, ENAMETOOLONG, {}};
        return false;
    }
    portName_ = portName;
    return OpenDevice();
}

bool SerialPort::OpenDevice() {
    Close();
    if (!device_.Open(portName_)) {
        openFailure_ = device_.LastOpenFailure();
        return false;
    }
    openFailure_ = {};
    device_.SetEventMask(eventMask_);
    device_.Purge(platform::kPurgeAll);

    bool ok = settings_.baudRate != 0;
    errno = EINVAL;
    if (ok) {
        uint32_t m = ByteMultiplier();
        ok = device_.SetTimeouts({0, m, readConstant_, m, writeConstant_});
    }
    ok = ok && ApplyLineSettings();
    ok = ok && device_.SetupQueues(inQueue_, outQueue_);
    if (!ok) {
        openFailure_ = {platform::OpenError::Settings, errno ? errno : EINVAL, {}};
        device_.Close();
        return false;
    }

    auto make = [this](int32_t (SerialPort::*fn)(void*, platform::Event&)) {
        return std::unique_ptr<PortWorker>(NewOrExit<PortWorker>(
            "Serial Port",
            [this, fn](void* r, platform::Event& abort) { return (this->*fn)(r, abort); }));
    };
    reader_ = make(&SerialPort::ReadTransfer);
    writer_ = make(&SerialPort::WriteTransfer);
    events_ = make(&SerialPort::EventTransfer);
    if (!writer_->Start() || !reader_->Start() || !events_->Start()) {
        Close();
        return false;
    }
    return true;
}

bool SerialPort::ApplyLineSettings() {
    if (settings_.parity != platform::Parity::None)
        settings_.parityCheck = true;
    using platform::LineControl;
    const bool dsr = flowControl_ & 1, cts = flowControl_ & 2, xon = flowControl_ & 4;
    settings_.dsrOutputFlow = dsr;
    settings_.dtrControl = dsr ? LineControl::Handshake : LineControl::Disable;
    settings_.ctsOutputFlow = cts;
    settings_.rtsControl = cts ? LineControl::Handshake : LineControl::Disable;
    settings_.xonXoffOutput = settings_.xonXoffInput = xon;
    settings_.xonChar = 0x11;
    settings_.xoffChar = 0x13;
    return device_.SetSettings(settings_);
}

bool SerialPort::ReopenIfGone() {
    if (IsOpen() && !Gone())
        return true;
    if (!IsOpen() && !lost_)
        return false;
    // A radio unplugged and plugged in again, or a simulator restarted, comes back under the
    // same name: the old descriptor stays dead, a new one works.
    lost_ = !OpenDevice();
    if (lost_) {
        msgout() << "Cannot open port " << portName_ << ": "
                 << platform::OpenFailureText(openFailure_) << ".\n";
        return false;
    }
    return true;
}

void SerialPort::DiscardStaleInput() {
    if (!IsOpen())
        return;
    device_.Purge(platform::kPurgeRxClear);
    if (!aborted_.exchange(false))
        return;
    const uint32_t rate = EffectiveRate();
    if (rate == 0)
        return;
    static constexpr uint32_t kMinQuietMs = 50, kMaxQuietMs = 2000, kMaxDrainMs = 5000;
    const uint64_t lineMs = (uint64_t(lastWrite_.load()) + 16) * 10000 / rate;
    // The drain may begin as the frame begins to leave: its answer comes a line time later,
    // and a radio (or the machine it runs on) takes time of its own to answer.
    const uint32_t quiet = static_cast<uint32_t>(
        std::clamp<uint64_t>(2 * lineMs + kMinQuietMs, kMinQuietMs, kMaxQuietMs));
    const uint32_t saved = readConstant_;
    SetReadTimeout(quiet);
    const platform::Deadline deadline = platform::Deadline::In(kMaxDrainMs);
    uint8_t buf[256];
    for (;;) {
        int32_t lineError = 0;
        // The time-out counts from the read's start: the line is quiet once a read of a
        // whole buffer brings nothing in that time.
        const uint32_t got = ReadPumping(buf, sizeof buf, lineError);
        if (got > 0)
            if (trace::WireTrace* t = trace_.load())
                t->Label(trace::Direction::Received, "garbage (a late answer, discarded)");
        if (got == 0 || lineError == kAborted || Gone() || deadline.Passed())
            break;
    }
    SetReadTimeout(saved);
    device_.Purge(platform::kPurgeRxClear);
}

bool SerialPort::PrepareForOperation() {
    if (!ReopenIfGone())
        return false;
    DiscardStaleInput();
    return true;
}

void SerialPort::Close() {
    lost_ = false;
    if (!device_.IsOpen())
        return;
    device_.SetEventMask(0);
    device_.Purge(platform::kPurgeAll);
    reader_.reset();
    writer_.reset();
    events_.reset();
    device_.Close();
}

bool SerialPort::IsOpen() const {
    return device_.IsOpen();
}

bool SerialPort::SetBaudRate(uint32_t nominalRate) {
    uint32_t stored = nominalRate / factor_;
    if (stored == 0)
        return false;
    settings_.baudRate = stored;
    if (!IsOpen())
        return true;
    platform::SerialTimeouts t;
    if (!device_.GetTimeouts(t))
        return false;
    t.readMultiplier = t.writeMultiplier = ByteMultiplier();
    bool ok = device_.SetTimeouts(t);
    return device_.SetSettings(settings_) && ok;
}

bool SerialPort::SetBaudrateFactor(uint32_t factor) {
    if (factor == 0)
        return false;
    factor_ = factor;
    return true;
}

namespace {
// Reads the device's time-outs, lets change adjust them and sets them again.
template <typename Change>
bool UpdateTimeouts(platform::SerialDevice& device, Change change) {
    platform::SerialTimeouts t;
    if (!device.GetTimeouts(t))
        return false;
    change(t);
    return device.SetTimeouts(t);
}
}  // namespace

bool SerialPort::SetReadTimeout(uint32_t ms) {
    readConstant_ = ms;
    return !IsOpen() || UpdateTimeouts(device_, [&](platform::SerialTimeouts& t) {
        if (ms != 0) {
            t.readInterval = 0;
            t.readMultiplier = ByteMultiplier();
            t.readConstant = ms;
        } else {
            t.readInterval = platform::kMaxTimeout;
            t.readMultiplier = 0;
            t.readConstant = 0;
        }
    });
}

bool SerialPort::SetWriteTimeout(uint32_t ms) {
    writeConstant_ = ms;
    return !IsOpen() || UpdateTimeouts(device_, [&](platform::SerialTimeouts& t) {
        t.writeMultiplier = ByteMultiplier();
        t.writeConstant = ms;
    });
}

bool SerialPort::SetQueueSizes(uint32_t inSize, uint32_t outSize) {
    inQueue_ = inSize;
    outQueue_ = outSize;
    return !IsOpen() || device_.SetupQueues(inSize, outSize);
}

bool SerialPort::CurrentTimeouts(platform::SerialTimeouts& timeouts) const {
    return device_.GetTimeouts(timeouts);
}

bool SerialPort::ConfigureInteractively() {
    platform::SerialSettings edited = settings_;
    edited.baudRate = settings_.baudRate * factor_;
    if (editor_ && editor_->Edit(portName_, PortSettingsEditor::kSubtypeRs232, edited)) {
        uint32_t stored = edited.baudRate / factor_;
        edited.baudRate = stored ? stored : settings_.baudRate;  // a rate of 0 is never kept
        settings_ = edited;
        if (stored == 0) {
            msgout() << "Cannot set the parameters.\n";
            return false;
        }
    }
    bool ok = device_.SetSettings(settings_);
    if (!ok)
        msgout() << "Cannot set the parameters.\n";
    return ok;
}

PortWorker* SerialPort::Worker(PortWorkerKind kind) {
    switch (kind) {
        case PortWorkerKind::Reader:
            return reader_.get();
        case PortWorkerKind::Writer:
            return writer_.get();
        case PortWorkerKind::Event:
            return events_.get();
    }
    return nullptr;
}

int32_t SerialPort::LineResult(TransferStatus status) {
    switch (status) {
        case TransferStatus::Done:
            return 0;
        case TransferStatus::Aborted:
            return kAborted;
        case TransferStatus::Failed:
            break;
    }
    // A failed transfer reports the line-error bits, and reading them clears them.
    return static_cast<int32_t>(device_.ClearErrors());
}

int32_t SerialPort::ReadTransfer(void* request, platform::Event& abort) {
    auto* r = static_cast<TransferRequest*>(request);
    return LineResult(device_.Read(r->buffer, r->count, r->transferred, abort.fd()));
}

int32_t SerialPort::WriteTransfer(void* request, platform::Event& abort) {
    auto* r = static_cast<TransferRequest*>(request);
    return LineResult(device_.Write(r->buffer, r->count, r->transferred, abort.fd()));
}

int32_t SerialPort::EventTransfer(void* request, platform::Event& abort) {
    auto* word = static_cast<uint32_t*>(request);
    *word = 0;
    device_.SetEventMask(eventMask_);
    TransferStatus s = device_.WaitEvent(*word, abort.fd());
    device_.SetEventMask(0);
    return s == TransferStatus::Done ? 0 : kAborted;
}

uint32_t SerialPort::Transfer(PortWorker* worker, void* buf, uint32_t n, int32_t& lineError,
                              bool pumping) {
    lineError = 0;
    if (!IsOpen() || worker == nullptr)
        return 0;
    // What the device can move at once moves on this thread: a hand-over to the worker and
    // back costs more than the transfer. Only the rest, which has to wait, goes to the worker,
    // where an abort can end it.
    const bool writing = worker == writer_.get();
    auto* bytes = static_cast<uint8_t*>(buf);
    uint32_t early = 0;
    TransferRequest request{buf, n, 0};
    auto attempt = [&] {
        early = writing ? device_.WriteNow(bytes, n) : device_.ReadNow(bytes, n);
        request = {bytes + early, n - early, 0};
        return early == n;
    };
    int32_t result = 0;
    if (!worker->CallPumping(&request, kNoLimit, result, pumping ? pump_ : nullptr, attempt))
        return 0;
    lineError = result;
    const uint32_t moved = early + request.transferred;
    Traced(writing ? trace::Direction::Sent : trace::Direction::Received, buf, moved);
    return moved;
}

uint32_t SerialPort::Write(const void* buf, uint32_t n, int32_t& lineError) {
    lastWrite_ = n;
    return Transfer(writer_.get(), const_cast<void*>(buf), n, lineError, false);
}

uint32_t SerialPort::Read(void* buf, uint32_t n, int32_t& lineError) {
    if (IsOpen())
        device_.ClearErrors();
    return Transfer(reader_.get(), buf, n, lineError, false);
}

uint32_t SerialPort::ReadPumping(void* buf, uint32_t n, int32_t& lineError) {
    if (IsOpen())
        device_.ClearErrors();
    return Transfer(reader_.get(), buf, n, lineError, true);
}

uint32_t SerialPort::WriteDirect(const void* buf, uint32_t n) {
    uint32_t put = 0;
    if (IsOpen())
        device_.Write(buf, n, put, -1);
    Traced(trace::Direction::Sent, buf, put);
    return put;
}

uint32_t SerialPort::ReadDirect(void* buf, uint32_t n) {
    uint32_t got = 0;
    if (!IsOpen())
        return 0;
    device_.ClearErrors();
    if (device_.Read(buf, n, got, -1) == TransferStatus::Failed)
        device_.ClearErrors();
    Traced(trace::Direction::Received, buf, got);
    return got;
}

bool SerialPort::PostWithCallback(PortWorkerKind worker, void* request,
                                  PortWorker::CompletionFn fn) {
    PortWorker* w = IsOpen() ? Worker(worker) : nullptr;
    return w && w->PostWithCallback(request, std::move(fn));
}

bool SerialPort::PostWithMessage(PortWorkerKind worker, void* request,
                                 platform::MessageTarget* window) {
    PortWorker* w = IsOpen() ? Worker(worker) : nullptr;
    return w && w->PostWithMessage(request, window);
}

void SerialPort::AbortAll() {
    aborted_ = true;
    for (PortWorker* w : {reader_.get(), writer_.get(), events_.get()})
        if (w)
            w->Abort();
}

bool SerialPort::Purge(uint32_t flags) {
    return device_.Purge(flags);
}

void SerialPort::SetNotifyMessage(PortWorkerKind worker, uint32_t message) {
    if (PortWorker* w = Worker(worker))
        w->SetNotifyMessage(message);
}

bool SerialPort::WaitWorkerIdle(PortWorkerKind worker, uint32_t ms) {
    PortWorker* w = Worker(worker);
    if (w == nullptr || !w->IsRunning())
        return true;
    const platform::Deadline deadline = platform::Deadline::In(ms);
    while (!w->IsQuiet()) {
        if (deadline.Passed())
            return false;
        platform::SleepMs(1);
    }
    return true;
}

}  // namespace serial
