#pragma once
// Test helper: the far end of a simulated serial line. The port under test opens SlavePath();
// the test plays the peer on the master side.

#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/PseudoTerminal.h"

class PtyLine {
  public:
    PtyLine() { ok_ = pty_.Open(true); }
    bool ok() const { return ok_; }
    const std::string& SlavePath() const { return pty_.SlavePath(); }
    int MasterFd() const { return pty_.MasterFd(); }
    void CloseMaster() { pty_.CloseMaster(); }

    void Send(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t r = write(MasterFd(), bytes.data() + done, bytes.size() - done);
            if (r > 0) {
                done += static_cast<size_t>(r);
            } else {
                pollfd p{MasterFd(), POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
    }

    // Collects up to n bytes, giving up after timeoutMs (a test's safety net, not a measure).
    std::vector<uint8_t> Receive(size_t n, uint32_t timeoutMs = 5000) {
        std::vector<uint8_t> out;
        uint64_t end = platform::TickMs() + timeoutMs;
        while (out.size() < n) {
            uint8_t buf[256];
            ssize_t r = read(MasterFd(), buf, std::min(sizeof buf, n - out.size()));
            if (r > 0) {
                out.insert(out.end(), buf, buf + r);
                continue;
            }
            uint64_t now = platform::TickMs();
            if (now >= end)
                break;
            pollfd p{MasterFd(), POLLIN, 0};
            poll(&p, 1, static_cast<int>(end - now));
        }
        return out;
    }

  private:
    platform::PseudoTerminal pty_;
    bool ok_ = false;
};
