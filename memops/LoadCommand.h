#pragma once
// The load command. A front end asks for the defaults of a memory, lets the user (or its
// options) change them, and runs the typed request: one blocking procedure that opens the image
// (with a checksum table when asked), sends it, and reads it back when asked to verify.
//
//   std::optional<LoadRequest> request = command.Defaults(Memory::Flash);
//   if (request) { request->file = ...; command.Run(*request, &progress); }
//
// Run may be called on any one thread at a time (the desktop runs it off its window's thread);
// Cancel works from any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "memops/LoadTransfer.h"
#include "memops/MemoryKinds.h"
#include "serial/SerialPort.h"
#include "srecord/Image.h"
#include "streams/Configuration.h"
#include "zimp/ZimpEngine.h"

namespace memops {

// Where a checksum table goes: none, after the highest block, at an address, after a block.
enum class ChecksumTable { None = 0, LastAddress = 1, Address = 2, AfterBlock = 3 };

struct LoadRequest {
    Memory memory = Memory::Ram;
    std::string file;
    uint32_t bias = 0;       // added to every block address
    uint32_t alignment = 1;  // chunks start on multiples of it (0 counts as 1)
    uint8_t fill = 0xFF;     // gaps and padding
    bool compress = false;
    ChecksumTable checksum = ChecksumTable::None;
    uint32_t checksumAddress = 0;  // for ChecksumTable::Address
    uint32_t checksumBlock = 0;    // for ChecksumTable::AfterBlock (taken modulo 65536)
    bool verify = false;           // read the image back afterwards and compare
    // Store the file under the memory's key in section "LoadMemory" when the load starts (the
    // desktop always does; the command line when asked).
    bool remember = true;
};

// A hex field of the dialog: the whole text must convert in base 16 (leading blanks, a sign
// and "0x" allowed; empty means 0). Values beyond 32 bits saturate.
bool ParseHexText(const std::string& text, uint32_t& value);
// ParseHexText as a dialog field's check: "The value must be in HEX format" when it fails.
bool CheckHexField(const std::string& text);

// The longest file name a load takes: the system's path limit, as the configuration's.
inline constexpr size_t kMaxLoadFileName = streams::ConfigurationBuffer::kMaxFileName;
// "Enter no more than N characters." for a longer name.
bool CheckLoadFileName(const std::string& name);

// Appends the checksum table the request asks for; false when it cannot be added.
bool AddChecksumTableFor(srecord::Image& image, const LoadRequest& request);

enum class VerifyOutcome {
    Same,        // the radio holds what the image holds
    Differs,     // firstBad is the first differing image address; nothing was written
    ReadFailed,  // a read failed; a message was written
    Cancelled,   // a read was aborted (the port's AbortAll); nothing was written
};

// Reads back what a load of image sent (the same chunks, at their wire addresses) and compares;
// progress (may be nullptr) hears of every chunk compared.
VerifyOutcome VerifyLoad(zimp::ZimpEngine& engine, const srecord::Image& image, uint32_t alignment,
                         uint32_t bias, uint8_t memoryCode, uint8_t fill, uint32_t& firstBad,
                         ProgressView* progress = nullptr);

class LoadCommand {
  public:
    enum class Outcome {
        Loaded,     // sent, and verified when asked
        NotLoaded,  // a block, the end marker or the verify failed, or the user cancelled
        Refused,    // nothing was sent (the message written)
    };

    LoadCommand(serial::SerialPort* port, streams::Configuration* profile);

    // The request for memory as the front end first shows it: the memory's last file, the bias
    // and compress flag of the previous load, alignment 1, fill FF, no table. Nothing (with
    // "Transfer Block has to be more than 0." or the refused value's message written) when the
    // configured block size refuses every load.
    std::optional<LoadRequest> Defaults(Memory memory);
    // The image request names, with the checksum table it asks for; nullptr (with "Cannot open
    // S Record file - " or "Cannot add checksum." written) when it cannot be had. One image
    // may serve several loads at once.
    static std::unique_ptr<srecord::Image> OpenImage(const LoadRequest& request);
    // The load, to its end. progress may be nullptr.
    Outcome Run(const LoadRequest& request, ProgressView* progress);
    // The load of an image OpenImage made for request. A Cancel since this command was made or
    // the last Run above began holds.
    Outcome Run(const LoadRequest& request, const srecord::Image& image, ProgressView* progress);
    // Only the read-back of a load of image: Loaded when the radio holds what the image holds;
    // nothing is written.
    Outcome VerifyOnly(const LoadRequest& request, const srecord::Image& image,
                       ProgressView* progress);
    // After a load: n bytes (at most 256) written at address of the request's memory, then the
    // end marker again. False with the message written, or after a cancel.
    bool WriteAfterLoad(const LoadRequest& request, uint32_t address, const uint8_t* bytes,
                        uint32_t n);
    // Any thread: stops a running load at once.
    void Cancel() { transfer_.Cancel(); }
    // Whether Cancel was called since the last Run began.
    bool Cancelled() const { return transfer_.Cancelled(); }

    // The bytes of the image of the last Run that opened one (checksum table included).
    uint32_t LoadedBytes() const { return loadedBytes_; }
    zimp::ZimpEngine& Engine() { return engine_; }

  private:
    // The configured block size; nullopt (with the message written) when it cannot be used.
    std::optional<unsigned long> UsableBlockSize();
    // The transfer of the opened image at raised priority.
    Outcome Transfer(const srecord::Image& image, const LoadRequest& request,
                     unsigned long blockSize, bool echo, ProgressView* progress);
    // afterLoad: a failure also says "File was not loaded.".
    Outcome Verify(const srecord::Image& image, const LoadRequest& request, ProgressView* progress,
                   bool afterLoad);
    // The checks and preparation every run of the port needs; false when refused.
    bool PreparePort();

    serial::SerialPort* port_;
    streams::Configuration* profile_;
    zimp::ZimpEngine engine_;
    LoadTransfer transfer_{engine_};
    // What outlives one load in the desktop program.
    uint32_t bias_ = 0;
    bool compress_ = false;
    uint32_t loadedBytes_ = 0;
};

}  // namespace memops
