#pragma once
// Image: one S-Record file's data as ImageReader parsed it. The data bytes lie in one buffer
// (an anonymous mapping), described by a list of blocks (stretches of consecutive addresses)
// sorted by start address and grouped into runs, with a summary of each run.
//
// An image does not change once made, except by AddChecksumTable, which its owner calls before
// anything reads it. Any number of ChunkReaders, on any threads, may then read one image.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace srecord {

// One stretch of consecutive addresses.
struct BlockInfo {
    int kind;        // 0 empty/unclassified, 1 first of a run, 2 inner, 3 last of a run or alone
    int added;       // 1 for the checksum table's block
    uint32_t start;  // address of the first byte
    uint32_t end;    // address just after the last byte
    int offset;      // offset of the first byte in the image buffer
    int line;        // file line of the block's first record; -1 for a checksum table
    uint16_t sum;    // sum of the block's bytes, modulo 65536
};

// One run: blocks in address order, each starting where the previous one ends.
struct RunInfo {
    uint32_t start;
    uint32_t length;
    uint16_t sum;
};

class Image {
  public:
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // The S0 text of the file, "Unknown" when it has none.
    const char* Header() const;
    // Start of the first (lowest) block, 0 when there are none.
    uint32_t FirstAddress() const;
    // End of the highest non-empty block in the list, 0 when there are none.
    uint32_t EndAddress() const;
    // Sum of the block lengths (gaps not counted), checksum table included.
    uint32_t TotalLength() const;

    int BlockCount() const { return static_cast<int>(blocks_.size()); }
    BlockInfo Block(int i) const;  // zero-filled for an index outside the list
    const std::vector<BlockInfo>& Blocks() const { return blocks_; }
    int RunCount() const { return static_cast<int>(runs_.size()); }
    RunInfo Run(int i) const;
    // The buffer the blocks' offsets point into.
    const uint8_t* Data() const { return data_; }

    // Appends the checksum table at address (0xFFFFFFFF: at EndAddress()), byte order 1 most
    // significant byte first, else least significant first. False when the table crosses a
    // block (the entry stays in the list) or cannot be built. Only before the image is read.
    bool AddChecksumTable(uint32_t address, int byteOrder);
    // AddChecksumTable at the end of block index (taken modulo 65536); false for no such block.
    bool AddChecksumTableAfterBlock(int index, int byteOrder);

  private:
    friend class ImageParser;  // the reader's parser fills a new image
    Image() = default;

    // The buffer, of at least need bytes; reserveOnly takes address space only, for a stream
    // of unknown size. False when it cannot be had.
    bool Map(size_t need, bool reserveOnly);
    // Sorts the blocks and classifies them into runs; false (with the warning written) when
    // two blocks cross.
    bool SortAndClassify();
    void BuildRunSummary();

    uint8_t* data_ = nullptr;  // anonymous mapping
    size_t size_ = 0;
    int endPos_ = 0;  // just after the last data byte: where a checksum table goes
    int headerOffset_ = -1;
    std::vector<BlockInfo> blocks_;
    std::vector<RunInfo> runs_;
};

}  // namespace srecord
