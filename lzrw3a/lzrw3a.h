#pragma once
// LZRW3-A: the compressor whose chunks the radio decompresses. The compressed format and the
// order in which the hash table is filled must match the radio's decompressor bit for bit, so
// nothing here may be "improved" in a way that changes the output.
//
// Compressed buffer: a 4-byte little-endian flag (0 = items follow, 1 = raw copy follows), then
// groups of a 16-bit little-endian control word and up to 16 items (bit set = 2-byte copy,
// bit clear = literal byte).
//
// Untrusted compressed bytes (from a file, a wire, a simulated radio) must go through
// lzrw3a_decompress_bounded(), which never reads or writes outside the given buffers.

#include <cstddef>
#include <cstdint>

namespace lzrw3a {

// The information record returned by the query action.
struct CompressInfo {
    uint32_t id;
    uint32_t memory;  // work memory the compress action needs, in bytes
    const char* name;
    const char* version;
    const char* date;
    const char* copyright;
    const char* author;
    const char* affiliation;
    const char* vendor;
};

inline constexpr uint16_t COMPRESS_ACTION_IDENTITY = 0;
inline constexpr uint16_t COMPRESS_ACTION_COMPRESS = 1;
inline constexpr uint16_t COMPRESS_ACTION_DECOMPRESS = 2;

inline constexpr uint32_t LZRW3A_FLAG_COMPRESS = 0;
inline constexpr uint32_t LZRW3A_FLAG_COPY = 1;
inline constexpr uint32_t LZRW3A_WORK_MEMORY = 16400;
// The compressed output of n input bytes never exceeds n + LZRW3A_MAX_EXPANSION bytes.
inline constexpr uint32_t LZRW3A_MAX_EXPANSION = 32;

// The single entry point.
//   action 0 (query):      *dstLen = address of the CompressInfo record; other arguments unused.
//   action 1 (compress):   src[0..srcLen) -> dst, *dstLen = compressed length. workMemory must
//                          hold LZRW3A_WORK_MEMORY bytes (any alignment) and dst at least
//                          srcLen + 32 bytes.
//   action 2 (decompress): src[0..srcLen) -> dst, *dstLen = decompressed length. Reads stay
//                          inside src whatever it holds, but the caller must size dst for the
//                          data (lzrw3a_max_decompressed); malformed input gives *dstLen = 0.
//   other actions: nothing.
// *dstLen is pointer-wide so that the query can hand back the record's address.
void lzrw3a_compress(uint16_t action, void* workMemory, const uint8_t* src, uint32_t srcLen,
                     uint8_t* dst, uintptr_t* dstLen);

// The information record (the same one the query action points at).
const CompressInfo& lzrw3a_info();

// Compresses src[0..srcLen) into dst (capacity srcLen + 32). Returns the compressed length.
// The compressor keeps its tables on its own stack (at most about 36 KB); workMemory is not used.
uint32_t lzrw3a_compress_buffer(const uint8_t* src, uint32_t srcLen, uint8_t* dst,
                                void* workMemory = nullptr);

// Decompresses hostile or trusted input without overrunning anything: false (and *dstLen = 0)
// when src is malformed (truncated item or control word, shorter than the 4 flag bytes) or the
// result would not fit in dstCapacity bytes. The format is the one above, unchanged.
bool lzrw3a_decompress_bounded(const uint8_t* src, size_t srcLen, uint8_t* dst, size_t dstCapacity,
                               size_t* dstLen);

// The largest output srcLen compressed bytes can decode to (every item an 18-byte copy).
inline constexpr size_t lzrw3a_max_decompressed(size_t srcLen) {
    return srcLen < 4 ? 0 : (srcLen - 4) * 9;
}

}  // namespace lzrw3a
