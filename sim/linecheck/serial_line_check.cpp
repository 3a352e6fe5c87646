// serial-line-check: exercises the serial link over a pseudo-terminal with an echoing peer:
// a block transfer at several rates, a read time-out, and an abort of a read without time-out.
// Exit status 0 when every check passed.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/PseudoTerminal.h"
#include "serial/SerialPort.h"

using serial::SerialPort;

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("  %-58s %s\n", what, ok ? "ok" : "FAILED");
    if (!ok)
        ++failures;
}

// The far end of the line: sends back every byte it receives until told to stop.
void Echo(int fd, std::atomic<bool>& stop) {
    uint8_t buf[512];
    while (!stop.load()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        ssize_t n = read(fd, buf, sizeof buf);
        for (ssize_t done = 0; n > 0 && done < n;) {
            ssize_t w = write(fd, buf + done, static_cast<size_t>(n - done));
            if (w > 0)
                done += w;
        }
    }
}

}  // namespace

int main() {
    platform::PseudoTerminal pty;
    if (!pty.Open(true)) {
        std::fprintf(stderr, "Cannot open a pseudo-terminal.\n");
        return 1;
    }
    std::printf("serial-line-check on %s\n", pty.SlavePath().c_str());
    std::atomic<bool> stop{false};
    std::thread peer(Echo, pty.MasterFd(), std::ref(stop));

    SerialPort port;
    port.SetBaudrateFactor(4);
    Check(port.Open(pty.SlavePath(), 115200), "open at 115200 baud, factor 4");
    Check(port.StoredRate() == 28800, "device rate is 28800");

    std::vector<uint8_t> out(4096), in(4096);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>(i * 7 + 3);
    for (uint32_t rate : {9600u, 115200u, 921600u}) {
        port.SetBaudRate(rate);
        int32_t err = 0;
        uint64_t t0 = platform::TickMs();
        uint32_t w = port.Write(out.data(), static_cast<uint32_t>(out.size()), err);
        uint32_t r = port.Read(in.data(), static_cast<uint32_t>(in.size()), err);
        char what[96];
        std::snprintf(what, sizeof what, "4096 bytes echoed at %u baud (%llu ms)", rate,
                      static_cast<unsigned long long>(platform::TickMs() - t0));
        Check(w == out.size() && r == in.size() && in == out && err == 0, what);
    }

    port.SetReadTimeout(100);
    uint8_t b[8];
    int32_t err = 5;
    Check(port.Read(b, sizeof b, err) == 0 && err == 0, "read with 100 ms time-out and no data");

    port.SetReadTimeout(0xFFFFFFFF);
    std::thread reader([&] { port.Read(b, sizeof b, err); });
    platform::SleepMs(100);
    port.AbortAll();
    reader.join();
    Check(err == SerialPort::kAborted, "read without time-out ended by abort");

    port.Close();
    stop = true;
    peer.join();
    std::printf("%s\n", failures ? "serial link: FAILED" : "serial link: all checks passed");
    return failures ? 1 : 0;
}
