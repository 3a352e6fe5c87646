#pragma once
// The load command: reads its settings, lets the front end confirm the loading parameters,
// opens the image (with a checksum table when asked), and runs the memory transfer.

#include <cstdint>
#include <optional>
#include <string>

#include "memops/MemoryTransfer.h"
#include "serial/SerialPort.h"
#include "streams/profilestream.h"
#include "zimp/ZimpEngine.h"

namespace memops {

struct MemoryKind;

// The "Loading Parameters" values, as texts where the dialog has texts.
struct LoadParameters {
    enum ChecksumMode { kNone = 0, kLastAddress = 1, kAddress = 2, kBlock = 3 };
    int checksumMode = kNone;
    long blockIndex = 0;
    std::string addressText = "0";
    long alignment = 1;
    std::string biasText;
    std::string fileName;
    std::string fillText = "FF";
    bool compress = false;
    std::string title;
};

// A hex field of the dialog: the whole text must convert in base 16 (leading blanks, a sign
// and "0x" allowed; empty means 0). Values beyond 32 bits saturate.
bool ParseHexText(const std::string& text, uint32_t& value);
// ParseHexText as a dialog field's check: "The value must be in HEX format" when it fails.
bool CheckHexField(const std::string& text);

// The longest file name a load takes: the system's path limit, as the configuration's.
inline constexpr size_t kMaxLoadFileName = streams::profilebuf::kMaxFileName;

// Checks the values as the dialog's data exchange does, in its order; the first fault writes
// its message and returns false.
bool ValidateLoadParameters(const LoadParameters& p);

// Appends the checksum table the parameters ask for; false when it cannot be added.
bool AddChecksumTableFor(srecord::S_Record& image, const LoadParameters& p);

enum class VerifyOutcome {
    Same,        // the radio holds what the image holds
    Differs,     // firstBad is the first differing image address; nothing was written
    ReadFailed,  // a read failed; a message was written
    Cancelled,   // a read was aborted (the port's AbortAll); nothing was written
};

// Reads back what a load of image sent (the same chunks, at their wire addresses) and compares.
VerifyOutcome VerifyLoad(zimp::ZimpEngine& engine, srecord::S_Record& image, uint32_t bias,
                         uint8_t memoryCode, uint8_t fill, uint32_t& firstBad);

class LoadFrontEnd {
  public:
    virtual ~LoadFrontEnd() = default;
    // Shows the parameters for editing; false when the user cancels. The values come back
    // validated (ValidateLoadParameters).
    virtual bool EditParameters(LoadParameters& params) = 0;
    // The progress view for the transfer (may be nullptr).
    virtual ProgressView* Progress() = 0;
};

class LoadCommand {
  public:
    enum class Outcome { Loaded, NotLoaded, Refused, Cancelled };

    LoadCommand(serial::SerialPort* port, streams::profilestream* profile);

    // The whole command for memory type 0..4.
    Outcome Run(int memoryType, LoadFrontEnd& frontEnd);
    MemoryTransfer& Loader() { return loader_; }
    zimp::ZimpEngine& Engine() { return engine_; }
    // Stops a running load at once (the front end's Cancel).
    void Cancel() { loader_.Cancel(); }

  private:
    // The configured block size; nullopt (with the message written) when it cannot be used.
    std::optional<unsigned long> UsableBlockSize();
    // The transfer of the opened image at raised priority.
    Outcome Transfer(const MemoryKind& kind, unsigned long blockSize, bool echo,
                     LoadFrontEnd& frontEnd);

    serial::SerialPort* port_;
    streams::profilestream* profile_;
    zimp::ZimpEngine engine_;
    MemoryTransfer loader_;
};

}  // namespace memops
