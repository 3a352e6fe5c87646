// LZRW3-A throughput on firmware-like data, chunk by chunk as the load sends it.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/lzrw3a_firmware.h"
#include "lzrw3a/lzrw3a.h"

namespace {

constexpr size_t kImage = 1 << 20;

const std::vector<uint8_t>& Image() {
    static const std::vector<uint8_t> image = FirmwareLike(kImage);
    return image;
}

void BM_Compress(benchmark::State& state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    const auto& image = Image();
    std::vector<uint8_t> work(LZRW3A_WORK_MEMORY);
    std::vector<uint8_t> out(chunk + LZRW3A_MAX_EXPANSION);
    size_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (size_t at = 0; at + chunk <= image.size(); at += chunk) {
            uintptr_t len = 0;
            lzrw3a_compress(COMPRESS_ACTION_COMPRESS, work.data(), image.data() + at,
                            static_cast<uint32_t>(chunk), out.data(), &len);
            packed += len;
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(image.size() / chunk * chunk));
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(image.size());
}

void BM_Decompress(benchmark::State& state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    const auto& image = Image();
    std::vector<std::vector<uint8_t>> packed;
    for (size_t at = 0; at + chunk <= image.size(); at += chunk) {
        std::vector<uint8_t> out(chunk + LZRW3A_MAX_EXPANSION);
        out.resize(
            lzrw3a_compress_buffer(image.data() + at, static_cast<uint32_t>(chunk), out.data()));
        packed.push_back(std::move(out));
    }
    std::vector<uint8_t> dst(chunk);
    for (auto _ : state) {
        for (const auto& p : packed) {
            size_t len = 0;
            bool ok = lzrw3a_decompress_bounded(p.data(), p.size(), dst.data(), dst.size(), &len);
            benchmark::DoNotOptimize(ok);
            benchmark::DoNotOptimize(dst.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(packed.size() * chunk));
}

}  // namespace

BENCHMARK(BM_Compress)->Arg(8192)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decompress)->Arg(8192)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
