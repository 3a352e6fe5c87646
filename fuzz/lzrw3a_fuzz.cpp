// Hostile compressed input for the bounded decompressor and the decompress action, and a
// round trip of the same bytes through the compressor.
#include <cstdint>
#include <cstring>
#include <vector>

#include "lzrw3a/lzrw3a.h"

using namespace lzrw3a;

namespace {
void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024)
        return 0;
    // Bounded: the capacity comes from the input so that short destinations are tried too.
    const size_t capacity = size == 0 ? 0 : (data[size - 1] * 37u) % 4096;
    std::vector<uint8_t> dst(capacity);
    size_t len = 1;
    if (lzrw3a_decompress_bounded(data, size, dst.data(), capacity, &len)) {
        Check(len <= capacity);
    } else {
        Check(len == 0);
    }

    // The action entry point with the destination it documents as sufficient.
    std::vector<uint8_t> big(lzrw3a_max_decompressed(size) + 1);
    std::vector<uint8_t> work(LZRW3A_WORK_MEMORY);
    uintptr_t out = 0;
    lzrw3a_compress(COMPRESS_ACTION_DECOMPRESS, work.data(), data, static_cast<uint32_t>(size),
                    big.data(), &out);
    Check(out <= lzrw3a_max_decompressed(size));

    // Compress the input itself and get it back.
    std::vector<uint8_t> packed(size + LZRW3A_MAX_EXPANSION);
    uintptr_t packedLen = 0;
    lzrw3a_compress(COMPRESS_ACTION_COMPRESS, work.data(), data, static_cast<uint32_t>(size),
                    packed.data(), &packedLen);
    Check(packedLen <= size + 4);
    std::vector<uint8_t> round(size);
    Check(lzrw3a_decompress_bounded(packed.data(), packedLen, round.data(), size, &len));
    Check(len == size && (size == 0 || std::memcmp(round.data(), data, size) == 0));
    return 0;
}
