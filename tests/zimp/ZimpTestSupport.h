#pragma once
// Shared rigs for the ZIMP tests: the engine on a SerialPort against the in-process radio
// simulator, or against a scripted peer on the master side of a pseudo-terminal.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/PseudoTerminal.h"
#include "serial/SerialPort.h"
#include "sim/radio/RadioSimulator.h"
#include "sim/radio/ZimpRadio.h"
#include "streams/ConsoleBuffer.h"
#include "streams/MessagePresenter.h"
#include "streams/MessageStreams.h"
#include "zimp/ZimpEngine.h"

namespace zimptest {

using Bytes = std::vector<uint8_t>;

// Records message boxes for the life of the object.
class MessageCapture {
  public:
    MessageCapture() { streams::SetMessagePresenter(&presenter_); }
    ~MessageCapture() { streams::SetMessagePresenter(nullptr); }
    std::vector<std::string> Texts() const { return presenter_.Texts(); }
    void Clear() { presenter_.Clear(); }

  private:
    streams::RecordingPresenter presenter_;
};

// Records the debug log for the life of the object.
class LogCapture : public streams::LogSink {
  public:
    LogCapture() { streams::AttachLogSink(this); }
    ~LogCapture() override { streams::AttachLogSink(nullptr); }
    void SetTitle(const char*) override {}
    bool Put(char ch) override {
        std::lock_guard lock(mutex_);
        text_ += ch;
        return true;
    }
    std::string Text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

  private:
    mutable std::mutex mutex_;
    std::string text_;
};

// Polls cond every few ms for up to limitMs; the limit only keeps a broken test from hanging.
inline bool WaitUntil(const std::function<bool()>& cond, uint32_t limitMs = 20000) {
    const uint64_t end = platform::TickMs() + limitMs;
    while (!cond()) {
        if (platform::TickMs() > end)
            return false;
        platform::SleepMs(2);
    }
    return true;
}

// The engine against the simulated radio running on its own thread.
class SimRig {
  public:
    explicit SimRig(radio::ZimpRadioOptions options = {}, uint32_t rate = 115200, bool echo = false,
                    uint32_t simBaud = 0)
        : radio(options) {
        ok = pty.Open(true);
        if (!ok)
            return;
        simulator = std::make_unique<radio::RadioSimulator>(pty.MasterFd(), radio, simBaud);
        thread = std::thread([this] { simulator->Run(); });
        ok = port.Open(pty.SlavePath(), rate) && engine.Attach(&port, echo);
    }
    ~SimRig() {
        engine.Detach();
        port.Close();
        if (simulator) {
            simulator->Stop();
            thread.join();
        }
    }

    platform::PseudoTerminal pty;
    radio::ZimpRadio radio;
    std::unique_ptr<radio::RadioSimulator> simulator;
    std::thread thread;
    serial::SerialPort port;
    zimp::ZimpEngine engine;
    bool ok = false;
};

// The master side of a pseudo-terminal driven by the test's own script on a thread.
class ScriptedPeer {
  public:
    using Script = std::function<void(ScriptedPeer&)>;

    explicit ScriptedPeer(uint32_t rate = 115200) {
        ok = pty.Open(true) && port.Open(pty.SlavePath(), rate) && engine.Attach(&port, false);
    }
    ~ScriptedPeer() {
        Join();
        engine.Detach();
        port.Close();
    }

    void Start(Script script) {
        thread_ = std::thread([this, script = std::move(script)] { script(*this); });
    }
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }

    // Reads exactly n bytes from the line (empty on a time-out of limitMs).
    Bytes Read(size_t n, uint32_t limitMs = 20000) {
        Bytes out;
        const uint64_t end = platform::TickMs() + limitMs;
        while (out.size() < n) {
            uint8_t b[4096];
            const ssize_t r = read(pty.MasterFd(), b, std::min(sizeof b, n - out.size()));
            if (r > 0) {
                out.insert(out.end(), b, b + r);
                continue;
            }
            const uint64_t now = platform::TickMs();
            if (now >= end)
                return {};
            pollfd p{pty.MasterFd(), POLLIN, 0};
            poll(&p, 1, static_cast<int>(std::min<uint64_t>(end - now, 50)));
        }
        return out;
    }
    // Reads one request frame, whatever its length.
    Bytes ReadFrame() {
        Bytes f = Read(1);
        if (f.empty())
            return f;
        const bool two = (f[0] >> 4) == 0xF;
        if (two) {
            Bytes k = Read(1);
            f.insert(f.end(), k.begin(), k.end());
        }
        size_t rest = f[0] & 0xF;
        if (rest == 0xF) {
            Bytes l = Read(2);
            if (l.size() < 2)
                return {};
            f.insert(f.end(), l.begin(), l.end());
            rest = size_t(l[0]) << 8 | l[1];
        }
        Bytes tail = Read(rest);
        if (tail.size() < rest)
            return {};
        f.insert(f.end(), tail.begin(), tail.end());
        return f;
    }
    // Writes all of bytes unless the other side stops reading for limitMs.
    void Write(const Bytes& bytes, uint32_t limitMs = 20000) {
        size_t put = 0;
        const uint64_t end = platform::TickMs() + limitMs;
        while (put < bytes.size() && platform::TickMs() < end) {
            const ssize_t w = write(pty.MasterFd(), bytes.data() + put, bytes.size() - put);
            if (w > 0) {
                put += static_cast<size_t>(w);
            } else {
                pollfd p{pty.MasterFd(), POLLOUT, 0};
                poll(&p, 1, 50);
            }
        }
    }

    platform::PseudoTerminal pty;
    serial::SerialPort port;
    zimp::ZimpEngine engine;
    bool ok = false;
    std::atomic<bool> engineDone{false};

  private:
    std::thread thread_;
};

// A reply frame with its checksum, built by hand so that the tests do not trust either side.
inline Bytes WithChecksum(Bytes f) {
    unsigned sum = 0;
    for (uint8_t b : f)
        sum += b;
    f.push_back(static_cast<uint8_t>(0xFF - (sum & 0xFF)));
    return f;
}

}  // namespace zimptest
