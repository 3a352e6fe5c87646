// Several radios at once: N simulated radios paced at 115,200 baud, 96 KB each, loaded by one
// zimp run. The wall time of eight should be that of one (each port has its own thread), and
// the CPU time per radio small: both reported, never asserted.
//
//   build/bench/station_bench

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace {

std::string ImageFile(const TempDir& dir, int bytes) {
    std::string text = "S00600004844521B\n";
    for (int at = 0; at < bytes; at += 32) {
        const unsigned address = 0x10000 + at;
        unsigned sum = 0x24 + (address >> 16) + ((address >> 8) & 0xFF) + (address & 0xFF);
        char cell[16];
        std::snprintf(cell, sizeof cell, "S224%06X", address);
        text += cell;
        for (int i = 0; i < 32; ++i) {
            const unsigned b = (at * 31 + i * 7) & 0xFF;
            sum += b;
            std::snprintf(cell, sizeof cell, "%02X", b);
            text += cell;
        }
        std::snprintf(cell, sizeof cell, "%02X\n", ~sum & 0xFF);
        text += cell;
    }
    return dir.Write("img.s19", text + "S804000000FB\n");
}

double ChildrenCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void BM_RadiosAtOnce(benchmark::State& state) {
    const int radios = static_cast<int>(state.range(0));
    TempDir dir;
    dir.Write("z.ini", "[configuration]\nBaudrate=115200\nEcho=0\n[LoadMemory]\nBlockSize=1024\n");
    const std::string img = ImageFile(dir, 96 * 1024);
    std::vector<std::unique_ptr<Subprocess>> sims;
    std::vector<std::string> argv = {ZIMP_CLI, "--config", dir.File("z.ini"), "--quiet"};
    for (int i = 0; i < radios; ++i) {
        const std::string link = dir.File("r" + std::to_string(i));
        sims.push_back(std::make_unique<Subprocess>(
            std::vector<std::string>{ZIMP_RADIO_SIM, "--baud", "115200", "--link", link}));
        if (sims.back()->WaitForLine("PTY ").empty()) {
            state.SkipWithError("the simulator did not start");
            return;
        }
        argv.insert(argv.end(), {"--port", link});
    }
    argv.insert(argv.end(), {"--report", dir.File("r.jsonl"), "load", "flash", img});
    double cpu = 0;
    for (auto _ : state) {
        const double cpuBefore = ChildrenCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        Subprocess zimp(argv);
        zimp.CloseInput();
        const int code = zimp.Wait(600000);
        const auto end = std::chrono::steady_clock::now();
        cpu = ChildrenCpuSeconds() - cpuBefore;  // zimp's alone: the simulators still run
        if (code != 0) {
            state.SkipWithError(("zimp failed: " + zimp.err).c_str());
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["radios"] = radios;
    state.counters["cpu_ms_per_radio"] = cpu * 1000 / radios;
    state.SetBytesProcessed(int64_t(state.iterations()) * radios * 96 * 1024);
}
BENCHMARK(BM_RadiosAtOnce)
    ->Arg(1)
    ->Arg(8)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
