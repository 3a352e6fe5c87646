#pragma once
// The radio's ZIMP side: acknowledges every request frame (0x50, or the NAK 0x4E for a bad
// checksum), answers from a sparse memory model, records every request and end-of-load
// marker, and injects the faults the tests ask for.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/radio/RadioFrameReader.h"
#include "sim/radio/RadioMemory.h"
#include "sim/radio/RadioMode.h"

namespace radio {

struct ZimpRadioOptions {
    bool echo = false;                      // return every received byte first
    uint32_t nakFirstWrites = 0;            // NAK the first N "Write Data" requests
    uint32_t nakEvery = 0;                  // NAK every K-th request of any kind (0: never)
    std::optional<uint32_t> badWriteAt;     // a write covering this address fails: 0xF485
    std::optional<uint32_t> silentAfter;    // answer nothing after N requests
    std::optional<uint32_t> wrongOpcodeAt;  // the N-th request's reply has a wrong opcode
    bool shortRead = false;                 // "Read" replies carry one byte fewer
    bool noWriteResponse = false;           // writes, erases, zeroings: acknowledged only
    bool decompress = false;                // "Write Data" payloads are LZRW3-A buffers
    uint16_t bufferLength = 0x2000;         // the "Configuration" answer
    uint32_t idleMs = 500;                  // a partial frame this old is dropped
    bool dumpTimes = false;                 // the dump also tells when requests and NAKs came
};

struct RequestRecord {
    uint32_t index = 0;    // 1-based, every frame received
    uint16_t opcode = 0;   // H x 256 + K
    uint32_t address = 0;  // for requests that carry one
    uint32_t length = 0;   // bytes read, summed or written
    std::string answer;    // "ack", "nak", "nak-checksum", "silent"
    // On the clock of Receive's nowMs: when the frame's first byte arrived, and when its NAK
    // began to go out (none for a frame not NAKed).
    uint64_t arrivedMs = 0;
    std::optional<uint64_t> nakSentMs;
};

struct ZimpRadioStats {
    uint64_t frames = 0;
    uint64_t badChecksums = 0;
    uint64_t naks = 0;
    uint64_t droppedPartials = 0;
    uint64_t unrecorded = 0;  // requests beyond the record limit
};

class ZimpRadio : public RadioMode {
  public:
    static constexpr uint8_t kAck = 0x50;
    static constexpr uint8_t kNak = 0x4E;
    static constexpr uint32_t kEndOfLoad = 0xFFFFFF;
    static constexpr size_t kMaxRecords = 1000000;

    explicit ZimpRadio(ZimpRadioOptions options = {});

    void Receive(const uint8_t* bytes, size_t n, uint64_t nowMs, RadioLine& line) override;
    void Idle(uint64_t nowMs) override;
    void WriteDump(std::ostream& out) const override;

    // Safe from any thread while the simulator runs.
    std::vector<uint8_t> ReadMemory(uint32_t address, uint32_t n) const;
    void Preload(uint32_t address, const std::vector<uint8_t>& data);
    // Memories in the dump format ("memories" of a dump); false with a reason on a fault.
    bool LoadJson(const std::string& text, std::string& error);
    std::vector<RequestRecord> Requests() const;
    // Request indices at which the end-of-load marker arrived.
    std::vector<uint32_t> Markers() const;
    ZimpRadioStats Stats() const;

  private:
    static constexpr size_t kNoRecord = static_cast<size_t>(-1);
    // What goes back on the line for the frames of one Receive, sent once the lock is released.
    struct Chunk {
        bool echo = false;
        std::vector<uint8_t> bytes;
        size_t nakOf = kNoRecord;  // a NAK: the record that notes when it went out
    };
    void Answer(const std::vector<uint8_t>& frame, bool checksumOk, std::vector<Chunk>& out);
    std::vector<uint8_t> Reply(const std::vector<uint8_t>& request, RequestRecord& record);
    std::vector<uint8_t> WriteResponse(bool ok, uint32_t address) const;
    // The record's place in records_, or kNoRecord beyond the limit.
    size_t Record(RequestRecord record);

    const ZimpRadioOptions options_;
    mutable std::mutex mutex_;  // guards everything below
    FrameReader reader_;
    RadioMemory memory_;
    std::vector<RequestRecord> records_;
    std::vector<uint32_t> markers_;
    ZimpRadioStats stats_;
    uint32_t writes_ = 0;
    uint32_t lastWriteAddress_ = 0;
    bool loadEnded_ = false;
    uint8_t replyCommandOverride_ = 0;
    uint64_t frameStartMs_ = 0;  // when the first byte of the frame being read arrived
};

// Builds a reply frame: opcode F0|N K (or FF K with a 16-bit length when extended), payload
// and checksum.
std::vector<uint8_t> MakeReplyFrame(uint8_t command, const std::vector<uint8_t>& payload,
                                    bool extended);

}  // namespace radio
