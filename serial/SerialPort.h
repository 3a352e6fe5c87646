#pragma once
// The radio's serial port: its name, line settings, rate factor and time-outs, and three
// worker threads (reader, writer, event waiter) through which transfers run so that a
// pending transfer can be aborted from another thread.
//
// Callers always speak of the radio's nominal rate; the device is programmed with nominal
// rate / factor, and every time-out formula uses factor x stored rate.

#include <atomic>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/MessagePump.h"
#include "platform/SerialDevice.h"
#include "platform/SerialSettings.h"
#include "serial/PortWorker.h"
#include "trace/WireTrace.h"

namespace serial {

class PortSettingsEditor;

// {buffer, byte count, bytes transferred}: the reader's and writer's request. The event
// worker's request is a uint32_t event word instead.
struct TransferRequest {
    void* buffer = nullptr;
    uint32_t count = 0;
    uint32_t transferred = 0;
};

enum class PortWorkerKind { Reader, Writer, Event };

class SerialPort {
  public:
    // The system's path limit: stable names under /dev/serial/by-id are often long.
    static constexpr size_t kMaxPortName = PATH_MAX - 1;
    static constexpr uint32_t kNoLimit = 0xFFFFFFFFu;
    // Line-error value of an aborted transfer.
    static constexpr int32_t kAborted = -1;

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // A name longer than kMaxPortName is refused (OpenError::NameTooLong), never cut.
    bool Open(const std::string& portName, uint32_t nominalRate);
    // Why the last Open failed.
    const platform::OpenFailure& LastOpenFailure() const { return openFailure_; }
    void Close();
    bool IsOpen() const;
    // The device went away (unplugged, the far side closed) while open.
    bool Gone() const { return device_.Gone(); }
    // Opens the port again under its name and settings when its device went away, or when
    // such a reopen failed before; true when the port is open and usable. A failed reopen
    // writes "Cannot open port NAME: REASON.". A port that was never opened, or was closed on
    // purpose, is left as it is.
    bool ReopenIfGone();
    // Empties the input queue. After an aborted transfer it also waits, keeping the user
    // interface live, until the line has been quiet for twice the time the last frame written
    // (and an answer to it) takes on the line, plus 50 ms, at most 2 s, discarding what comes:
    // a radio that was still receiving that frame answers it late, and the next request must
    // not take that answer for its own. An abort ends the wait.
    void DiscardStaleInput();
    // What every operation does before its first request: ReopenIfGone, then
    // DiscardStaleInput. True when the port is open.
    bool PrepareForOperation();

    // Refused (false, old values kept) when the stored rate would be 0.
    bool SetBaudRate(uint32_t nominalRate);
    // Refused for 0. Takes effect for the rate at the next SetBaudRate or Open.
    bool SetBaudrateFactor(uint32_t factor);
    bool SetReadTimeout(uint32_t ms);
    bool SetWriteTimeout(uint32_t ms);
    bool SetQueueSizes(uint32_t inSize, uint32_t outSize);
    // Lets the user edit the line settings through the editor (none: as if cancelled), then
    // applies them; "Cannot set the parameters.\n" when the device refuses (or is closed).
    bool ConfigureInteractively();

    uint32_t Write(const void* buf, uint32_t n, int32_t& lineError);
    uint32_t Read(void* buf, uint32_t n, int32_t& lineError);
    // As Read, keeping the user interface live through the pump (none: as Read).
    uint32_t ReadPumping(void* buf, uint32_t n, int32_t& lineError);
    // On the caller's thread; ends only by the time-outs.
    uint32_t WriteDirect(const void* buf, uint32_t n);
    uint32_t ReadDirect(void* buf, uint32_t n);
    bool PostWithCallback(PortWorkerKind worker, void* request, PortWorker::CompletionFn fn);
    bool PostWithMessage(PortWorkerKind worker, void* request, platform::MessageTarget* window);
    void AbortAll();
    bool Purge(uint32_t flags);
    // The message number a worker posts at completion (PostWithMessage); kept until it stops.
    void SetNotifyMessage(PortWorkerKind worker, uint32_t message);
    // Waits up to ms for a worker to finish what it was handed, its completion function or
    // message included; true when it is quiet (or there is no such worker).
    bool WaitWorkerIdle(PortWorkerKind worker, uint32_t ms);

    // Every byte written or read from now on also goes to trace (nullptr: none). Not owned;
    // set between operations.
    void SetTrace(trace::WireTrace* trace) { trace_.store(trace); }
    trace::WireTrace* Trace() const { return trace_.load(); }

    // Settings the front ends and the protocol layers read or adjust.
    const std::string& PortName() const { return portName_; }
    uint32_t BaudrateFactor() const { return factor_; }
    uint32_t StoredRate() const { return settings_.baudRate; }
    // factor x stored rate: what every timing formula divides by.
    uint32_t EffectiveRate() const { return factor_ * settings_.baudRate; }
    // Per-byte time-out multiplier m = 1000 / (factor x stored rate).
    uint32_t ByteMultiplier() const;
    platform::SerialSettings& Settings() { return settings_; }
    const platform::SerialSettings& Settings() const { return settings_; }
    void SetFlowControl(uint8_t flags) { flowControl_ = flags; }
    uint8_t FlowControl() const { return flowControl_; }
    void SetEventMask(uint32_t mask) { eventMask_ = mask; }
    uint32_t EventMask() const { return eventMask_; }
    uint32_t ReadTimeoutConstant() const { return readConstant_; }
    uint32_t WriteTimeoutConstant() const { return writeConstant_; }
    uint32_t InputQueueSize() const { return inQueue_; }
    uint32_t OutputQueueSize() const { return outQueue_; }
    // The five time-outs in force on the open device (false when closed).
    bool CurrentTimeouts(platform::SerialTimeouts& timeouts) const;
    // Line errors seen since the last transfer, cleared by reading them.
    uint32_t ClearLineErrors() { return device_.ClearErrors(); }
    platform::SerialDevice& Device() { return device_; }

    void SetPump(platform::MessagePump* pump) { pump_ = pump; }
    void SetSettingsEditor(PortSettingsEditor* editor) { editor_ = editor; }

  private:
    bool OpenDevice();
    bool ApplyLineSettings();
    PortWorker* Worker(PortWorkerKind kind);
    int32_t LineResult(platform::TransferStatus status);
    int32_t ReadTransfer(void* request, platform::Event& abort);
    int32_t WriteTransfer(void* request, platform::Event& abort);
    int32_t EventTransfer(void* request, platform::Event& abort);
    uint32_t Transfer(PortWorker* worker, void* buf, uint32_t n, int32_t& lineError, bool pumping);

    std::string portName_ = "COM1";
    bool lost_ = false;                   // its device went away and has not been opened again
    std::atomic<bool> aborted_{false};    // AbortAll since the last DiscardStaleInput
    std::atomic<uint32_t> lastWrite_{0};  // bytes of the last write handed to the device
    std::atomic<trace::WireTrace*> trace_{nullptr};
    void Traced(trace::Direction direction, const void* bytes, uint32_t n) const {
        if (trace::WireTrace* t = trace_.load(); t != nullptr && n > 0)
            t->Bytes(direction, static_cast<const uint8_t*>(bytes), n);
    }
    platform::OpenFailure openFailure_;
    platform::SerialSettings settings_;
    uint32_t factor_ = 1;
    uint8_t flowControl_ = 0;
    uint32_t eventMask_ = 0;
    uint32_t inQueue_ = 4096, outQueue_ = 4096;
    uint32_t readConstant_ = 1000, writeConstant_ = 1000;
    platform::SerialDevice device_;
    std::unique_ptr<PortWorker> reader_, writer_, events_;
    platform::MessagePump* pump_ = nullptr;
    PortSettingsEditor* editor_ = nullptr;
};

}  // namespace serial
