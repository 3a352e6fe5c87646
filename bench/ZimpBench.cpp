// ZIMP framing and parsing speed, and whole requests against the simulated radio over a
// pseudo-terminal (no line delay: what the engine and its workers cost per request).

#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

#include "platform/PseudoTerminal.h"
#include "serial/SerialPort.h"
#include "sim/radio/RadioSimulator.h"
#include "sim/radio/ZimpRadio.h"
#include "zimp/ReceiveBuffer.h"
#include "zimp/ZimpEngine.h"
#include "zimp/ZimpFrame.h"

using namespace zimp;

using namespace serial;

namespace {

void BM_FrameWriteData(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> request(n + 7, 0x5A);
    request[0] = 0xFF;
    request[1] = 0x17;
    request[2] = static_cast<uint8_t>((n + 4) >> 8);
    request[3] = static_cast<uint8_t>(n + 4);
    std::vector<uint8_t> out(zimp::kMaxFrameLength);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            zimp::FrameRequest(request.data(), request.size(), out.data(), out.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n + 8));
}
BENCHMARK(BM_FrameWriteData)->Arg(256)->Arg(8216);

void BM_ParseReply(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> reply{0xFF, 0x80, static_cast<uint8_t>((n + 1) >> 8),
                               static_cast<uint8_t>(n + 1)};
    reply.resize(4 + n, 0x33);
    unsigned sum = 0;
    for (uint8_t b : reply)
        sum += b;
    reply.push_back(static_cast<uint8_t>(0xFF - (sum & 0xFF)));
    zimp::ReplyParser parser;
    zimp::ReceiveBuffer buffer;
    std::vector<uint8_t> sink(n);
    for (auto _ : state) {
        parser.Reset();
        buffer.Clear();
        for (uint8_t b : reply)
            if (parser.Feed(b) == zimp::ReplyParser::Step::Payload)
                buffer.Push(b);
        benchmark::DoNotOptimize(buffer.Take(sink.data(), static_cast<uint32_t>(n)));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(reply.size()));
}
BENCHMARK(BM_ParseReply)->Arg(259)->Arg(65534);

// The engine on a port against the radio simulator on its own thread.
class Rig {
  public:
    Rig() {
        pty_.Open(true);
        sim_ = std::make_unique<radio::RadioSimulator>(pty_.MasterFd(), radio_);
        thread_ = std::thread([this] { sim_->Run(); });
        port_.Open(pty_.SlavePath(), 115200);
        engine.Attach(&port_, false);
    }
    ~Rig() {
        engine.Detach();
        port_.Close();
        sim_->Stop();
        thread_.join();
    }
    ZimpEngine engine;

  private:
    platform::PseudoTerminal pty_;
    radio::ZimpRadio radio_;
    std::unique_ptr<radio::RadioSimulator> sim_;
    std::thread thread_;
    SerialPort port_;
};

void BM_ReadMemory255(benchmark::State& state) {
    Rig rig;
    uint8_t data[255];
    for (auto _ : state)
        if (rig.engine.ReadMemory(0x800000, data, 255) != 255)
            state.SkipWithError("read failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * 255);
}
BENCHMARK(BM_ReadMemory255)->Unit(benchmark::kMicrosecond);

void BM_WriteData(benchmark::State& state) {
    Rig rig;
    const uint32_t n = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> data(n, 0xA5);
    uint32_t at = 0;
    for (auto _ : state) {
        if (rig.engine.WriteData(0x400000, data.data(), n) != zimp::RequestResult::Acknowledged ||
            rig.engine.AwaitWriteResponse(at) != zimp::RequestResult::ReplyOk)
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_WriteData)->Arg(256)->Arg(8216)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
