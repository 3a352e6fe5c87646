#pragma once
// S_Record: one S-Record file as a memory image.
//
// Open() parses the whole file (strictly: the first faulty line fails it, with its line number
// and an error code -1..-5, see GetError/ReportError; a line ends at CR, LF or CR LF, and what
// follows a record's checksum up to the line end is ignored) into one buffer of data bytes, a
// list of blocks (stretches of consecutive addresses) sorted by start address and classified
// into runs, and a per-run summary. The image is then read out front to back:
//   ReadChunk          - aligned chunks, gaps shorter than the alignment filled;
//   ReadWindow         - a window of len bytes from the next data on, every gap filled;
//   ReadCompressedChunk- a ReadChunk compressed with LZRW3-A;
// each reporting the target address of its first byte through ChunkAddress().
// AddChecksumTable appends a table of the runs (count, then start, length, 16-bit byte sum).
//
// Thread safety: every operation takes the object's re-entrant lock; a caller that needs several
// calls to see one state (for example TotalLength, then ReadChunk) may hold Mutex() around them.

#include <cstdint>
#include <mutex>
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

class S_Record {
  public:
    // Error codes left by Open (GetError).
    static constexpr int kErrNotSRecord = -1;   // cannot open, empty, unknown record type
    static constexpr int kErrNotHex = -2;       // non-hex character in count/address/checksum
    static constexpr int kErrChecksum = -3;     // checksum mismatch
    static constexpr int kErrTooShort = -4;     // line too short for its count
    static constexpr int kErrImageBuffer = -5;  // image buffer could not be created

    // Record kinds of the last record decoded.
    enum RecordKind {
        kHeader = 0,
        kS1 = 1,
        kS2 = 2,
        kS3 = 3,
        kS7 = 4,
        kS8 = 5,
        kS9 = 6,
        kInvalid = 8
    };

    S_Record();
    S_Record(const char* fileName, int alignment);
    virtual ~S_Record();
    S_Record(const S_Record&) = delete;
    S_Record& operator=(const S_Record&) = delete;

    virtual int GetError() const;

    // Parses fileName (any earlier file is closed first). alignment below 1 counts as 1.
    // Returns 0, or -1 with the reason in GetError().
    int Open(const char* fileName, int alignment);
    void Close();

    // Writes "Error in line <n>\r" and the text for the error code to msgout().
    void ReportError() const;

    // The S0 text of the file, "Unknown" when it has none; "" when nothing is open. Points into
    // the image: valid until the next Open or Close.
    const char* Header() const;
    // Start of the first (lowest) block, 0 when there are none.
    uint32_t FirstAddress() const;
    // End of the highest non-empty block in the list, 0 when there are none.
    uint32_t EndAddress() const;
    // Sum of the block lengths (gaps not counted), checksum table included.
    uint32_t TotalLength() const;

    // Next chunk of at most len bytes into dest, gaps filled with fill. Returns the bytes
    // delivered; 0 when the image ended without more data (the state then becomes exhausted);
    // -1 when the image is not readable (not open, failed, exhausted) or len < 1.
    int ReadChunk(uint8_t* dest, int len, uint8_t fill);
    // Target address of dest[0] of the last chunk or window.
    uint32_t ChunkAddress() const;
    // len bytes from the next data on, every gap holding fill (alignment is not applied).
    // Returns the bytes meaningful from ChunkAddress() on, or -1.
    int ReadWindow(uint8_t* dest, int len, uint8_t fill);
    // ReadChunk of at most len raw bytes, LZRW3-A compressed into dest, which must hold
    // len + 32 bytes. Returns the compressed length and the raw bytes it covers in *rawCount;
    // 0 or less (and *rawCount 0) when there is no more data.
    int ReadCompressedChunk(uint8_t* dest, int len, int* rawCount, uint8_t fill);

    // Appends the checksum table at address (0xFFFFFFFF: at EndAddress()), byte order 1 most
    // significant byte first, else least significant first. False when the table crosses a
    // block (the entry stays in the list) or cannot be built. Read-out restarts at block 0.
    bool AddChecksumTable(uint32_t address, int byteOrder);
    // AddChecksumTable at the end of block index (taken modulo 65536); false for no such block.
    bool AddChecksumTableAfterBlock(int index, int byteOrder);
    // Positions the read-out at block i; true when i is a non-empty block and the image is
    // readable.
    bool SeekBlock(int i);

    // Read-only views of the image, for the loader and tests.
    int State() const;  // 1 closed or exhausted, 0 readable, -1 failed
    int LineNumber() const;
    int Alignment() const;
    int BlockCount() const;
    BlockInfo Block(int i) const;  // zero-filled for an index outside the list
    int RunCount() const;
    RunInfo Run(int i) const;
    std::recursive_mutex& Mutex() const { return lock_; }

  private:
    class Input;

    // The image's anonymous mapping, sized from the file; false when it cannot be had.
    bool MapImage();
    // After the first record: its header, or a stand-in header ahead of its data.
    void PlaceHeader();
    // Skips blank lines; returns the next character (negative at the end of the input).
    int SkipBlank(int& skipped);
    // The line that starts with c (none: a stand-in termination record) into text_; returns
    // the characters stored, length gets them with the line end.
    int TakeLine(int c, int& length);
    int ReadLine();
    int ReadRecord();
    int ReadDataRecord();
    void SkipRestOfLine();
    uint8_t Pair(int pos);
    void SetError(int code);
    bool GroupBlock(int index);
    bool SortAndClassify();
    void BuildRunSummary();
    int CopyRun(uint8_t* dest, uint32_t m);
    int ReadChunkLocked(uint8_t* dest, int len, uint8_t fill, uint32_t alignment);
    void SeekBlockLocked(int i);
    void ReleaseImage();

    mutable std::recursive_mutex lock_;
    uint32_t alignment_ = 1;
    std::vector<BlockInfo> blocks_;
    std::vector<RunInfo> runs_;

    uint8_t* image_ = nullptr;  // anonymous mapping
    size_t imageSize_ = 0;
    int pos_ = 0;     // write position while parsing, read position afterwards
    int endPos_ = 0;  // just after the last data byte: where a checksum table goes
    int curBlock_ = 0;
    long fileSize_ = 0;

    // Parser state of the current line and record.
    char* line_ = nullptr;        // line buffer, padded so that a record never reads past it
    const char* text_ = nullptr;  // the current line: in the input block, or line_
    int lineNumber_ = 0;
    int lineLength_ = 0;
    int lineStored_ = 0;               // characters of the line in the buffer
    bool lineEnded_ = false;           // the line end (or the end of the file) has been read
    bool firstRecordPending_ = false;  // a header-less file's first record, already decoded
    int cursor_ = 0;                   // position of the next hex pair in the line
    int count_ = 0;
    int sum_ = 0;
    uint32_t address_ = 0;
    uint16_t dataSum_ = 0;
    int dataBytes_ = 0;
    int kind_ = kInvalid;
    int headerOffset_ = -1;

    Input* input_ = nullptr;
    int error_ = 0;
    int state_ = 1;

    uint32_t nextAddress_ = 0;  // address of the next unread byte
    uint32_t outPos_ = 0;       // address of the next byte ReadChunk delivers
    uint32_t chunkAddress_ = 0;
};

}  // namespace srecord
