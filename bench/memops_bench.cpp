// Load throughput: the whole load command against the simulated radio on a pseudo-terminal,
// unthrottled (what the program and the line layer cost), and at an emulated 115,200 baud
// (how much of the line carries image data).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "memops/LoadCommand.h"
#include "platform/PseudoTerminal.h"
#include "sim/radio/RadioSimulator.h"
#include "sim/radio/ZimpRadio.h"
#include "streams/MessagePresenter.h"
#include "streams/MessageStreams.h"
#include "trace/WireTrace.h"

using namespace memops;

using namespace serial;

using namespace streams;

namespace {

std::string TempDir() {
    char tmpl[] = "/tmp/zimp-bench-XXXXXX";
    return mkdtemp(tmpl) ? tmpl : "/tmp";
}

// Firmware-like bytes: short instruction words with repeats, tables, some noise.
std::string WriteImage(const std::string& dir, uint32_t size) {
    std::string text = "S00600004844521B\n";
    uint32_t state = 12345;
    for (uint32_t off = 0; off < size; off += 32) {
        unsigned char rec[40];
        int n = 0;
        rec[n++] = 32 + 4;
        uint32_t a = 0x10000 + off;
        rec[n++] = static_cast<unsigned char>(a >> 16);
        rec[n++] = static_cast<unsigned char>(a >> 8);
        rec[n++] = static_cast<unsigned char>(a);
        for (int i = 0; i < 32; ++i) {
            state = state * 1103515245 + 12345;
            uint32_t r = (state >> 16) & 0xFF;
            rec[n++] = static_cast<unsigned char>(r < 160 ? (off + i) % 7 * 0x11 : r);
        }
        unsigned sum = 0;
        std::string line = "S2";
        char hex[3];
        for (int i = 0; i < n; ++i) {
            sum += rec[i];
            std::snprintf(hex, sizeof hex, "%02X", rec[i]);
            line += hex;
        }
        std::snprintf(hex, sizeof hex, "%02X", (~sum) & 0xFF);
        text += line + hex + "\n";
    }
    std::string path = dir + "/image.s28";
    std::ofstream(path) << text << "S804000000FB\n";
    return path;
}

void RunLoad(benchmark::State& state, uint32_t baud, uint32_t imageSize, bool compress,
             bool traced = false) {
    const std::string dir = TempDir();
    const std::string image = WriteImage(dir, imageSize);
    const std::string ini = dir + "/ZIMPProtocol.ini";
    std::ofstream(ini) << "[configuration]\nEcho=0\n[LoadMemory]\nBlockSize=8192\n";
    RecordingPresenter boxes;
    SetMessagePresenter(&boxes);
    radio::ZimpRadioOptions options;
    options.decompress = compress;
    radio::ZimpRadio radio(options);
    platform::PseudoTerminal pty;
    if (!pty.Open(true)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    radio::RadioSimulator sim(pty.MasterFd(), radio, baud);
    std::thread simThread([&] { sim.Run(); });
    SerialPort port;
    port.Open(pty.SlavePath(), baud ? baud : 115200);
    // The wire trace a user turns on to report a problem: every byte, as text, to a file.
    trace::WireTrace wire;
    if (traced && wire.Open(dir + "/load.trace").empty())
        port.SetTrace(&wire);
    Configuration profile(ini);
    LoadCommand command(&port, &profile);
    LoadRequest request;
    request.memory = memops::Memory::Flash;
    request.file = image;
    request.compress = compress;
    bool ok = true;
    for (auto _ : state)
        ok = command.Run(request, nullptr) == LoadCommand::Outcome::Loaded && ok;
    port.SetTrace(nullptr);
    ok = wire.Close().empty() && ok;
    port.Close();
    sim.Stop();
    simThread.join();
    SetMessagePresenter(nullptr);
    if (!ok)
        state.SkipWithError("the load failed");
    const double bytes = double(imageSize) * double(state.iterations());
    state.counters["image_MB_per_s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    if (baud)
        state.counters["line_efficiency"] =
            benchmark::Counter(bytes / (baud / 10.0), benchmark::Counter::kIsRate);
    std::system(("rm -rf " + dir).c_str());
}

void BM_LoadUnthrottled(benchmark::State& state) {
    RunLoad(state, 0, 1 << 20, state.range(0) != 0, state.range(1) != 0);
}
BENCHMARK(BM_LoadUnthrottled)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"compress", "trace"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_LoadAt115200(benchmark::State& state) {
    RunLoad(state, 115200, 96 * 1024, state.range(0) != 0);
}
BENCHMARK(BM_LoadAt115200)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("compress")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Reference: what the line itself allows. A plain program moves an 8 KB block and a one-byte
// answer over a pseudo-terminal, with a thread on the master side as the radio.
bool MoveAll(int fd, uint8_t* buf, size_t n, bool writing) {
    size_t done = 0;
    while (done < n) {
        const ssize_t r =
            writing ? write(fd, buf + done, n - done) : read(fd, buf + done, n - done);
        if (r > 0) {
            done += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
        if (poll(&p, 1, 1000) <= 0)
            return false;
    }
    return true;
}

void BM_PtyReference(benchmark::State& state) {
    constexpr size_t kBlock = 8192;
    platform::PseudoTerminal pty;
    if (!pty.Open(true)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const int slave = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        state.SkipWithError("no slave side");
        return;
    }
    const int master = pty.MasterFd();
    const int64_t rounds = state.max_iterations;
    std::thread peer([&] {
        uint8_t block[kBlock];
        uint8_t ack = 0x50;
        for (int64_t i = 0; i < rounds; ++i)
            if (!MoveAll(master, block, kBlock, false) || !MoveAll(master, &ack, 1, true))
                return;
    });
    uint8_t block[kBlock] = {};
    bool ok = true;
    for (auto _ : state) {
        uint8_t ack = 0;
        ok = ok && MoveAll(slave, block, kBlock, true) && MoveAll(slave, &ack, 1, false);
    }
    peer.join();
    close(slave);
    if (!ok)
        state.SkipWithError("the line failed");
    state.counters["payload_MB_per_s"] = benchmark::Counter(
        double(kBlock) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PtyReference)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
