// S-Record parse throughput (MB/s of file text) on generated files of S3 records: 16 MB of
// text with many blocks, and a 16 MiB image in one block (41 MB of text, the file `zimp info`
// is timed on beside srec_cat); and the read-out of the parsed image in 8 KB chunks.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/lzrw3a_firmware.h"
#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"

using namespace srecord;

namespace {

constexpr size_t kFileText = 16u << 20;
constexpr size_t kImageData = 16u << 20;

// A file written once, removed at exit: records of 32 bytes up to textBytes of text or
// dataBytes of data, with a gap every 64 KB when gaps is set, so that there are many blocks.
struct BenchFile {
    BenchFile(const char* name, size_t textBytes, size_t dataBytes, bool gaps)
        : path("/tmp/zimp_srecord_bench_" + std::to_string(getpid()) + name) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fputs("S00F000068656C6C6F202020202000003C\r\n", f);
        const auto data = FirmwareLike(kFileText / 2, 7);
        size_t written = 0, emitted = 0;
        uint32_t address = 0x08000000;
        char line[128];
        for (size_t at = 0; written < textBytes && emitted < dataBytes;
             at = (at + 32) % (data.size() - 32), emitted += 32) {
            if (gaps && at % 65536 == 0)
                address += 0x100;
            unsigned sum = 37 + (address >> 24) + ((address >> 16) & 0xFF) +
                           ((address >> 8) & 0xFF) + (address & 0xFF);
            int n = std::snprintf(line, sizeof line, "S325%08X", address);
            for (int i = 0; i < 32; ++i) {
                sum += data[at + i];
                n += std::snprintf(line + n, sizeof line - n, "%02X", data[at + i]);
            }
            n += std::snprintf(line + n, sizeof line - n, "%02X\r\n", 255 - (sum & 0xFF));
            std::fwrite(line, 1, static_cast<size_t>(n), f);
            written += static_cast<size_t>(n);
            address += 32;
        }
        std::fputs("S70500000000FA\r\n", f);
        std::fclose(f);
    }
    ~BenchFile() { std::remove(path.c_str()); }
    std::string path;
};

const std::string& FilePath() {
    static const BenchFile file(".s19", kFileText, SIZE_MAX, true);
    return file.path;
}

const std::string& ImageFilePath() {
    static const BenchFile file("_image.s19", SIZE_MAX, kImageData, false);
    return file.path;
}

long FileSize(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fclose(f);
    return n;
}

void Parse(benchmark::State& state, const std::string& path) {
    const long size = FileSize(path);
    ReadResult read;
    for (auto _ : state) {
        read = ImageReader::Read(path);
        if (!read)
            state.SkipWithError("open failed");
        benchmark::DoNotOptimize(read.image.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    if (read) {
        state.counters["blocks"] = read.image->BlockCount();
        state.counters["image_bytes"] = read.image->TotalLength();
    }
}

void BM_Parse(benchmark::State& state) {
    Parse(state, FilePath());
}

void BM_Parse16MiBImage(benchmark::State& state) {
    Parse(state, ImageFilePath());
}

void BM_ReadChunks(benchmark::State& state) {
    const ReadResult read = ImageReader::Read(FilePath());
    std::vector<uint8_t> chunk(8192);
    int64_t bytes = 0;
    for (auto _ : state) {
        ChunkReader reader(*read.image, 4);
        int n;
        while ((n = reader.ReadChunk(chunk.data(), 8192, 0xFF)) > 0)
            bytes += n;
    }
    state.SetBytesProcessed(bytes);
}

}  // namespace

BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse16MiBImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadChunks)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
