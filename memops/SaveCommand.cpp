#include "memops/SaveCommand.h"

#include <cstdio>
#include <cstring>

#include "memops/MemoryKinds.h"
#include "memops/NakRetry.h"
#include "memops/Startup.h"
#include "platform/Clock.h"
#include "platform/FileLocator.h"
#include "platform/ReplacementFile.h"
#include "srecord/SRecordWriter.h"
#include "streams/MessageStreams.h"

using serial::SerialPort;

using streams::Configuration;
using streams::msgout;

using srecord::SRecordWriter;

namespace memops {

SaveCommand::SaveCommand(SerialPort* port, Configuration* profile)
    : port_(port), profile_(profile) {}

SaveCommand::~SaveCommand() {
    Close();
}

bool SaveCommand::Prepare(Memory memory) {
    if (port_ == nullptr || profile_ == nullptr) {
        msgout() << "You have to set port and profile\n";
        return false;
    }
    const std::optional<bool> echo = ReadEcho(*profile_);  // a refused value is reported
    if (!echo)
        return false;
    engine_.Attach(port_, *echo);
    const MemoryKind& kind = MemoryKindOf(memory);
    title_ = kind.saveTitle;
    section_ = kind.saveSection;
    code_ = kind.code;
    type_ = profile_->ReadText(section_, "Type", 2);
    fileName_ = profile_->ReadFileName(section_, "File");
    profile_->clear();
    cancelled_ = false;
    return true;
}

bool SaveCommand::NextConfiguredRange(int index, uint32_t& start, uint32_t& end) {
    char key[24];
    std::snprintf(key, sizeof key, "Range%u", static_cast<unsigned>(index));
    profile_->Select(section_, key);
    unsigned long s = start, e = end;
    profile_->ReadNumber(s, ',');
    profile_->ReadNumber(e, index == 1 ? '\n' : ';');
    start = static_cast<uint32_t>(s);
    end = static_cast<uint32_t>(e);
    return true;
}

// One save's state between its steps.
struct SaveCommand::Progress {
    Progress(platform::ReplacementFile& f, SRecordWriter& w, const std::string& name,
             SaveFrontEnd* fe)
        : file(f), writer(w), fileName(name), frontEnd(fe) {}
    platform::ReplacementFile& file;
    SRecordWriter& writer;
    const std::string& fileName;
    SaveFrontEnd* frontEnd;
    uint32_t total = 0;  // bytes of the given ranges; 0 when unknown
    uint32_t saved = 0;
    uint32_t written = 0;        // bytes whose records have reached the file
    uint32_t bufferAddress = 0;  // address of buffer[0]
    uint32_t fill = 0;           // bytes in the buffer from whole reads
    bool readFailed = false;
    std::atomic<bool> writeFailed{false};  // also set by KeepWhatWasRead's last write
    bool done = false;                     // the file has been replaced, kept or given up
    uint8_t buffer[kBufferSize] = {};
};

std::vector<SaveRange> SaveCommand::CollectRanges(
    const std::optional<std::vector<SaveRange>>& given) {
    // The list ends before the first range whose start is not below its end. A configured key
    // that is missing keeps the values a complete read of the previous range leaves behind
    // (start past the end), so it ends the list too.
    std::vector<SaveRange> list;
    if (given) {
        for (const SaveRange& r : *given) {
            if (r.start >= r.end)
                break;
            list.push_back(r);
        }
        return list;
    }
    uint32_t start = 0, end = 0;
    for (int index = 1;; ++index) {
        NextConfiguredRange(index, start, end);
        if (start >= end)
            return list;
        list.push_back({start, end});
        start = end + 1 == 0 ? 0xFFFFFFFFu : end + 1;
    }
}

std::string SaveCommand::NothingToSave(bool given) const {
    if (given)
        return "Nothing to save: no range given has a start below its end.\n";
    return "Nothing to save: section [" + section_ +
           "] has no Range1 whose start is below its end.\n";
}

SaveOutcome SaveCommand::Save(const std::string& fileName, SaveFrontEnd* frontEnd,
                              const std::optional<std::vector<SaveRange>>& ranges) {
    // Nothing is written, and the previous file stays, unless there is something to read.
    if (!srecord::SRecordWriter::KnownType(type_.c_str())) {
        if (type_.empty())
            msgout() << "No S-Record type: set Type in [" << section_ << "] to S1, S2 or S3.\n";
        else
            msgout() << "The S-Record type " << type_ << " in [" << section_
                     << "] is none of S1, S2 or S3.\n";
        return SaveOutcome::Refused;
    }
    const std::vector<SaveRange> list = CollectRanges(ranges);
    if (list.empty()) {
        msgout() << NothingToSave(ranges.has_value());
        return SaveOutcome::Refused;
    }
    if (port_ == nullptr || !port_->PrepareForOperation()) {
        engine_.SetOutcome(zimp::LinkError::NoPort, zimp::RequestResult::LinkFailure);
        engine_.ReportError();
        return SaveOutcome::Refused;
    }
    // The previous file stays whole until the new one is complete.
    platform::ReplacementFile file;
    SRecordWriter writer;
    if (!file.Create(fileName) ||
        !writer.Open(file.TemporaryPath().c_str(), "Saved from radio", type_.c_str())) {
        msgout() << "Cannot open file " << fileName << ".\n";
        return SaveOutcome::NotOpened;
    }
    saving_ = true;
    fileName_ = fileName;
    if (frontEnd)
        frontEnd->ShowAddress("");

    Progress progress(file, writer, fileName, frontEnd);
    if (ranges)
        for (const auto& r : *ranges)
            if (r.start <= r.end)
                progress.total += r.end - r.start + 1;
    {
        std::lock_guard lock(fileMutex_);
        running_ = &progress;
    }
    if (profile_) {
        // Stored now, as a name that still holds when the program starts elsewhere; standard
        // output is no file to propose next time.
        if (!platform::NamesStandardOutput(fileName))
            profile_->Select(section_, "File") << platform::AbsolutePath(fileName) << '\n';
        profile_->clear();
    }
    for (const SaveRange& range : list) {
        if (Stopped(progress))
            break;
        ReadRange(range, progress);
    }
    SaveOutcome outcome = Finish(progress);
    {
        std::lock_guard lock(fileMutex_);
        running_ = nullptr;
    }
    saving_ = false;
    return outcome;
}

bool SaveCommand::Stopped(const Progress& p) const {
    return cancelled_ || p.readFailed || p.writeFailed;
}

void SaveCommand::ReadRange(const SaveRange& range, Progress& p) {
    uint32_t start = range.start;
    uint32_t stop = range.end + 1;  // the end is inclusive
    if (stop == 0)
        stop = 0xFFFFFFFFu;  // a range up to the top address
    {
        std::lock_guard lock(fileMutex_);
        p.fill = 0;
        p.bufferAddress = start;
    }
    uint32_t fill = 0;  // this thread's copy of p.fill
    while (start < stop && !Stopped(p)) {
        if (fill == 0 && p.frontEnd) {
            char text[16];
            std::snprintf(text, sizeof text, "%x", start);
            p.frontEnd->ShowAddress(text);
        }
        uint32_t count = std::min<uint32_t>(stop - start, kReadSize);
        uint32_t got = ReadMemoryRetryingNak(engine_, WireAddress(start, code_), p.buffer + fill,
                                             count, kReadTimeoutMs, &cancelled_);
        if (engine_.ReportError()) {
            p.readFailed = !cancelled_;
            break;
        }
        if (got == 0) {
            // A read the user aborted ends silently; otherwise the radio answered with no
            // data, and the same read would repeat forever.
            if (!cancelled_)
                msgout() << "Reply Format is wrong.\n";
            p.readFailed = !cancelled_;
            break;
        }
        fill += got;
        start += got;
        {
            std::lock_guard lock(fileMutex_);
            p.fill = fill;
            p.saved += got;
        }
        if (p.frontEnd)
            p.frontEnd->BytesSaved(p.saved, p.total);
        if (fill > kBufferSize - kReadSize) {
            WriteBuffer(p, start);
            fill = 0;
        }
    }
    WriteBuffer(p, start);
}

void SaveCommand::WriteBuffer(Progress& p, uint32_t next) {
    std::lock_guard lock(fileMutex_);
    WriteBufferLocked(p);
    p.fill = 0;
    p.bufferAddress = next;
}

void SaveCommand::WriteBufferLocked(Progress& p) {
    if (p.done)
        return;  // the file has been kept as the process ends
    const uint32_t address = p.bufferAddress, fill = p.fill;
    for (uint32_t off = 0; off < fill && !p.writeFailed; off += kRecordBytes) {
        int n = static_cast<int>(std::min<uint32_t>(kRecordBytes, fill - off));
        if (p.writer.WriteRecord(address + off, p.buffer + off, n))
            continue;
        p.writeFailed = true;
        if (p.writer.WriteError() != 0)
            msgout() << "Cannot write file " << p.fileName << ": "
                     << std::strerror(p.writer.WriteError()) << ".\n";
        else
            msgout() << "Cannot write the record at address " << std::hex << (address + off)
                     << std::dec << " to " << p.fileName << ".\n";
    }
    // On the disk, so that a process ended at once can still keep it.
    if (!p.writeFailed && fill > 0) {
        if (p.writer.Flush()) {
            p.written += fill;
        } else {
            p.writeFailed = true;
            msgout() << "Cannot write file " << p.fileName << ": "
                     << std::strerror(p.writer.WriteError()) << ".\n";
        }
    }
    p.fill = 0;
}

SaveOutcome SaveCommand::Finish(Progress& p) {
    std::lock_guard lock(fileMutex_);
    if (p.done)
        return SaveOutcome::Cancelled;  // kept already, as the process ends
    p.done = true;
    if (!cancelled_ && !p.readFailed && !p.writeFailed) {
        if (p.writer.Close(0) && p.file.Commit())
            return SaveOutcome::Saved;
        const int error = p.writer.WriteError() != 0 ? p.writer.WriteError() : p.file.Error();
        msgout() << "Cannot write file " << p.fileName << ": " << std::strerror(error) << ".\n";
        return SaveOutcome::Failed;
    }
    p.writer.Discard();
    // What was read is worth keeping, under a name that no one takes for a complete file.
    if (!p.writeFailed && p.saved > 0)
        KeepPartial(p, p.saved);
    return cancelled_ ? SaveOutcome::Cancelled : SaveOutcome::Failed;
}

void SaveCommand::KeepPartial(Progress& p, uint32_t bytes) {
    // A FIFO, a device or standard output has no place beside it: it simply gets nothing.
    if (bytes == 0 || !p.file.Replaces())
        return;
    const std::string partial = p.file.Target() + ".partial";
    if (p.file.KeepAs(partial))
        msgout() << "The " << std::dec << bytes << (bytes == 1 ? " byte" : " bytes")
                 << " read so far " << (bytes == 1 ? "is" : "are") << " kept in " << partial
                 << ".\n";
}

void SaveCommand::KeepWhatWasRead() {
    // The save's thread holds the lock only for a write of at most 1 KiB or its last steps;
    // a save stuck in a write (a full pipe) is given up after 2 s. (Tried in steps rather than
    // with a timed lock, which the thread checker cannot follow.)
    std::unique_lock lock(fileMutex_, std::defer_lock);
    for (int tries = 0; !lock.try_lock(); ++tries) {
        if (tries == 200)
            return;
        platform::SleepMs(10);
    }
    if (running_ == nullptr || running_->done)
        return;
    // The bytes still in the buffer are complete reads: they go into the file first.
    WriteBufferLocked(*running_);
    running_->done = true;
    running_->writer.Discard();
    if (!running_->writeFailed)
        KeepPartial(*running_, running_->written);
}

void SaveCommand::Cancel() {
    cancelled_ = true;
    if (port_)
        port_->AbortAll();
}

void SaveCommand::Close() {
    engine_.Detach();
}

}  // namespace memops
