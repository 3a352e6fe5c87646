#pragma once
// ChunkReader: one reading of an Image, front to back, in the shapes the loads need:
//   ReadChunk  - aligned chunks: a chunk starts on a multiple of the alignment, gaps shorter than
//                the alignment are filled and a run's last unit is padded;
//   ReadWindow - a window of len bytes from the next data on, every gap filled;
// each reporting the address of its first byte through ChunkAddress(). Every user of an image has
// a reader of its own: a load and the verify after it, or several radios, read one image at once.

#include <cstdint>

#include "srecord/Image.h"

namespace srecord {

class ChunkReader {
  public:
    // alignment below 1 counts as 1. The image must outlive the reader.
    explicit ChunkReader(const Image& image, uint32_t alignment = 1);

    // Next chunk of at most len bytes into dest, gaps filled with fill. Returns the bytes
    // delivered; 0 when the image ended without more data (the reader is then exhausted);
    // -1 when the reader is exhausted or len < 1.
    int ReadChunk(uint8_t* dest, int len, uint8_t fill);
    // len bytes from the next data on, every gap holding fill (the alignment does not apply).
    // Returns the bytes meaningful from ChunkAddress() on, or -1.
    int ReadWindow(uint8_t* dest, int len, uint8_t fill);
    // Target address of dest[0] of the last chunk or window.
    uint32_t ChunkAddress() const { return chunkAddress_; }
    // Positions the read-out at block i; true when i is a non-empty block and the reader is
    // not exhausted.
    bool SeekBlock(int i);
    bool Exhausted() const { return exhausted_; }
    uint32_t Alignment() const { return alignment_; }

  private:
    void SeekBlockAt(int i);
    // Copies at most m bytes of the current run; never crosses into the next run.
    int CopyRun(uint8_t* dest, uint32_t m);
    int Read(uint8_t* dest, int len, uint8_t fill, uint32_t alignment);

    const Image& image_;
    uint32_t alignment_;
    bool exhausted_ = false;
    int curBlock_ = 0;
    int pos_ = 0;               // offset of the next unread byte in the image buffer
    uint32_t nextAddress_ = 0;  // address of the next unread byte
    uint32_t outPos_ = 0;       // address of the next byte ReadChunk delivers
    uint32_t chunkAddress_ = 0;
};

}  // namespace srecord
