#pragma once
// The save command: reads address ranges of a radio memory with "Read" requests and writes
// them to an S-Record file.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "memops/MemoryKinds.h"
#include "platform/ReplacementFile.h"
#include "serial/SerialPort.h"
#include "srecord/SRecordWriter.h"
#include "streams/Configuration.h"
#include "zimp/ZimpEngine.h"

namespace memops {

struct SaveRange {
    uint32_t start;
    uint32_t end;  // inclusive
};

class SaveFrontEnd {
  public:
    virtual ~SaveFrontEnd() = default;
    // The address being read, as the dialog's "Address" field shows it (lower-case hex).
    virtual void ShowAddress(const std::string& text) = 0;
    // Bytes saved so far, for a progress display; total 0 when unknown.
    virtual void BytesSaved(uint32_t done, uint32_t total) {
        (void)done;
        (void)total;
    }
};

// How a save ended. A front end keeps its dialog open after NotOpened and Refused and closes
// it otherwise.
enum class SaveOutcome {
    Saved,      // the file is complete and replaced the previous one
    NotOpened,  // "Cannot open file": nothing was read
    Refused,    // no range to read, or no open port: nothing was read or written
    Failed,     // a read or write failed; the previous file is untouched
    Cancelled,  // the user cancelled; the previous file is untouched
};

class SaveCommand {
  public:
    static constexpr uint32_t kReadSize = 128;
    static constexpr uint32_t kBufferSize = 1024;
    static constexpr int kRecordBytes = 32;
    static constexpr uint32_t kReadTimeoutMs = 2000;

    SaveCommand(serial::SerialPort* port, streams::Configuration* profile);
    ~SaveCommand();

    // The command's preparation: checks the port and configuration, attaches the engine with
    // the configured echo, and reads the memory's "Type" and "File". False (with the message
    // written) when it cannot go on.
    bool Prepare(Memory memory);
    const std::string& Title() const { return title_; }
    const std::string& Type() const { return type_; }
    // Another S-Record type for this save (the command line's --type).
    void SetType(const std::string& type) { type_ = type; }
    const std::string& FileName() const { return fileName_; }

    // The save (the dialog's OK). Without ranges, the section's Range1, Range2 ... keys are
    // read; given ranges are saved in their order. Refused, before anything is written, when
    // there is no range whose start is below its end or the port is not open. The file is
    // written beside fileName and replaces it only when complete (a FIFO, a device or standard
    // output is written into once complete); after a failure or a cancel the bytes read so far
    // are kept in "<fileName>.partial" (without a termination record) and a message names it.
    // A NAKed read is tried again, up to four attempts.
    SaveOutcome Save(const std::string& fileName, SaveFrontEnd* frontEnd,
                     const std::optional<std::vector<SaveRange>>& ranges = std::nullopt);
    // True while Save runs (for a front end that must not close under it).
    bool Saving() const { return saving_.load(); }
    // From another thread (or the front end's Cancel): ends a pending read at once.
    void Cancel();
    bool Cancelled() const { return cancelled_.load(); }
    // From another thread, when the process is about to end at once (a second interrupt):
    // keeps what has been written so far in "<fileName>.partial", as a cancelled save would,
    // and says so. Does nothing when no save runs or it has already kept or replaced its file.
    void KeepWhatWasRead();
    // Detaches the engine (the dialog closes).
    void Close();
    zimp::ZimpEngine& Engine() { return engine_; }

  private:
    struct Progress;
    bool NextConfiguredRange(int index, uint32_t& start, uint32_t& end);
    // The ranges to read, in their order.
    std::vector<SaveRange> CollectRanges(const std::optional<std::vector<SaveRange>>& given);
    bool Stopped(const Progress& p) const;
    void ReadRange(const SaveRange& range, Progress& p);
    // Writes the buffer's bytes as records from its address on and starts it afresh at next.
    void WriteBuffer(Progress& p, uint32_t next);
    void WriteBufferLocked(Progress& p);  // under fileMutex_
    SaveOutcome Finish(Progress& p);
    // Keeps the file's bytes in "<target>.partial" with the message; under fileMutex_.
    void KeepPartial(Progress& p, uint32_t bytes);
    std::string NothingToSave(bool given) const;

    serial::SerialPort* port_;
    streams::Configuration* profile_;
    zimp::ZimpEngine engine_;
    std::string title_, section_, type_, fileName_;
    uint8_t code_ = 0;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> saving_{false};
    // Guards the running save's file between the save and KeepWhatWasRead.
    std::mutex fileMutex_;
    Progress* running_ = nullptr;
};

}  // namespace memops
