// The compressor against an earlier revision of itself, in one process: built by
// scripts/bench-lzrw3a-against, which gives the earlier revision's compressor its own name.
// Both compress the same file chunk by chunk; each round takes them in a rotated order and
// times them in thread CPU time, and the medians of the per-round figures are reported, so
// that a machine whose speed drifts affects both alike. Outputs must be byte for byte equal.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lzrw3a/lzrw3a.h"

extern "C" uint32_t zimp_before_compress_buffer(const uint8_t* src, uint32_t srcLen, uint8_t* dst,
                                                void* workMemory);

namespace {

double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

using CompressFn = uint32_t (*)(const uint8_t*, uint32_t, uint8_t*);

uint32_t Now(const uint8_t* src, uint32_t n, uint8_t* dst) {
    return lzrw3a::lzrw3a_compress_buffer(src, n, dst, nullptr);
}
uint32_t Before(const uint8_t* src, uint32_t n, uint8_t* dst) {
    return zimp_before_compress_buffer(src, n, dst, nullptr);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
double Quartile(std::vector<double> v, int q) {
    std::sort(v.begin(), v.end());
    return v[v.size() * static_cast<size_t>(q) / 4];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lzrw3a_versus FILE [ROUNDS]\n");
        return 2;
    }
    std::ifstream f(argv[1], std::ios::binary);
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(f)), {});
    if (image.empty() || image.size() > (256u << 20)) {
        std::fprintf(stderr, "lzrw3a_versus: %s: empty, unreadable or over 256 MiB\n", argv[1]);
        return 1;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
    const CompressFn fns[2] = {Before, Now};
    const char* names[2] = {"before", "now"};
    std::printf("%s, %zu bytes, %d rounds; medians\n", argv[1], image.size(), rounds);
    for (uint32_t chunk : {8192u, 1024u}) {
        std::vector<uint8_t> a(chunk + lzrw3a::LZRW3A_MAX_EXPANSION),
            b(chunk + lzrw3a::LZRW3A_MAX_EXPANSION);
        for (size_t at = 0; at < image.size(); at += chunk) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(chunk, image.size() - at));
            const uint32_t la = Before(image.data() + at, n, a.data());
            const uint32_t lb = Now(image.data() + at, n, b.data());
            if (la != lb || std::memcmp(a.data(), b.data(), la) != 0) {
                std::fprintf(stderr, "lzrw3a_versus: outputs differ at offset %zu\n", at);
                return 1;
            }
        }
        std::vector<double> speed[2], ratio;
        for (int r = 0; r < rounds; ++r) {
            double seconds[2];
            for (int k = 0; k < 2; ++k) {
                const int which = (k + r) % 2;
                const double t0 = ThreadSeconds();
                for (size_t at = 0; at < image.size(); at += chunk)
                    fns[which](image.data() + at,
                               static_cast<uint32_t>(std::min<size_t>(chunk, image.size() - at)),
                               a.data());
                seconds[which] = ThreadSeconds() - t0;
            }
            for (int k = 0; k < 2; ++k)
                speed[k].push_back(static_cast<double>(image.size()) / seconds[k] / 1e6);
            ratio.push_back(seconds[0] / seconds[1]);
        }
        for (int k = 0; k < 2; ++k)
            std::printf("%5u-byte chunks  %-6s %7.1f MB/s\n", chunk, names[k], Median(speed[k]));
        std::printf("%5u-byte chunks  now/before %.2fx (quartiles %.2f-%.2f)\n", chunk,
                    Median(ratio), Quartile(ratio, 1), Quartile(ratio, 3));
    }
    return 0;
}
