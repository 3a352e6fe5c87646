// LZRW3-A throughput on a firmware image, chunk by chunk as the load sends it, beside a plain
// rendering of the same compressor on the same data so that the ratio shows in one run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/lzrw3a_firmware.h"
#include "bench/lzrw3a_plain.h"
#include "lzrw3a/lzrw3a.h"

using namespace lzrw3a;

namespace {

constexpr size_t kImage = 1 << 20;

// firmware-1m.bin from the benchmark data (read whole, up to a bound); generated firmware-like
// data of the same size when the file is not there.
std::vector<uint8_t> LoadImage(std::string* source) {
    const char* dir = std::getenv("ZIMP_BENCH_DATA");
    const std::string path = std::string(dir ? dir : ZIMP_BENCH_DATA_DIR) + "/firmware-1m.bin";
    std::vector<uint8_t> data;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        constexpr size_t kLimit = 64u << 20;
        data.resize(kLimit + 1);
        data.resize(std::fread(data.data(), 1, data.size(), f));
        std::fclose(f);
        if (data.size() > kLimit)
            data.clear();
    }
    if (data.empty()) {
        *source = "generated";
        return FirmwareLike(kImage);
    }
    *source = path;
    return data;
}

std::string g_source;

const std::vector<uint8_t>& Image() {
    static const std::vector<uint8_t> image = LoadImage(&g_source);
    return image;
}

template <typename CompressChunk>
void CompressAll(benchmark::State& state, CompressChunk compress) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    const auto& image = Image();
    std::vector<uint8_t> out(chunk + LZRW3A_MAX_EXPANSION);
    size_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (size_t at = 0; at + chunk <= image.size(); at += chunk) {
            packed += compress(image.data() + at, static_cast<uint32_t>(chunk), out.data());
            benchmark::DoNotOptimize(out.data());
        }
    }
    const size_t covered = image.size() / chunk * chunk;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(covered));
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(covered);
    state.SetLabel(g_source);
}

void BM_Compress(benchmark::State& state) {
    std::vector<uint8_t> work(LZRW3A_WORK_MEMORY);
    CompressAll(state, [&](const uint8_t* src, uint32_t n, uint8_t* dst) {
        uintptr_t len = 0;
        lzrw3a_compress(COMPRESS_ACTION_COMPRESS, work.data(), src, n, dst, &len);
        return static_cast<size_t>(len);
    });
}

void BM_CompressPlain(benchmark::State& state) {
    // Measuring against a rendering that compresses differently would mean nothing.
    const size_t chunk = static_cast<size_t>(state.range(0));
    const auto& image = Image();
    std::vector<uint8_t> a(chunk + LZRW3A_MAX_EXPANSION), b(chunk + LZRW3A_MAX_EXPANSION);
    for (size_t at = 0; at + chunk <= image.size(); at += chunk) {
        const uint32_t n = static_cast<uint32_t>(chunk);
        const uint32_t la = lzrw3a_compress_buffer(image.data() + at, n, a.data());
        const uint32_t lb = PlainLzrw3aCompress(image.data() + at, n, b.data());
        if (la != lb || !std::equal(a.begin(), a.begin() + la, b.begin())) {
            state.SkipWithError("the plain rendering's output differs");
            return;
        }
    }
    CompressAll(state, [](const uint8_t* src, uint32_t n, uint8_t* dst) {
        return static_cast<size_t>(PlainLzrw3aCompress(src, n, dst));
    });
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
    state.SetLabel(g_source);
}

}  // namespace

BENCHMARK(BM_Compress)->Arg(8192)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompressPlain)->Arg(8192)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decompress)->Arg(8192)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
