#include "memops/SaveCommand.h"

#include <cstdio>
#include <cstring>

#include "memops/MemoryKinds.h"
#include "memops/Startup.h"
#include "platform/ReplacementFile.h"
#include "srecord/WSRecord.h"
#include "streams/MessageStreams.h"

using serial::SerialPort;

using streams::msgout;
using streams::profilestream;

using srecord::WSRecord;

namespace memops {

SaveCommand::SaveCommand(SerialPort* port, profilestream* profile)
    : port_(port), profile_(profile) {}

SaveCommand::~SaveCommand() {
    Close();
}

bool SaveCommand::Prepare(int memoryType) {
    if (port_ == nullptr || profile_ == nullptr) {
        msgout() << "You have to set port and profile\n";
        return false;
    }
    engine_.Attach(port_, ConfiguredEcho(*profile_));
    const MemoryKind& kind = MemoryKindOf(memoryType);
    title_ = kind.saveTitle;
    section_ = kind.saveSection;
    code_ = kind.code;
    type_ = profile_->ReadText(section_, "Type", 2);
    fileName_ = profile_->ReadText(section_, "File", 254);
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
    Progress(WSRecord& w, const std::string& name, SaveFrontEnd* fe)
        : writer(w), fileName(name), frontEnd(fe) {}
    WSRecord& writer;
    const std::string& fileName;
    SaveFrontEnd* frontEnd;
    uint32_t total = 0;  // bytes of the given ranges; 0 when unknown
    uint32_t saved = 0;
    bool readFailed = false, writeFailed = false;
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

SaveOutcome SaveCommand::Save(const std::string& fileName, SaveFrontEnd* frontEnd,
                              const std::optional<std::vector<SaveRange>>& ranges) {
    // The previous file stays whole until the new one is complete.
    platform::ReplacementFile file;
    WSRecord writer;
    if (!file.Create(fileName) ||
        !writer.Open(file.TemporaryPath().c_str(), "Saved from radio", type_.c_str())) {
        msgout() << "Cannot open file " << fileName << ".\n";
        return SaveOutcome::NotOpened;
    }
    saving_ = true;
    fileName_ = fileName;
    if (frontEnd)
        frontEnd->ShowAddress("");

    Progress progress(writer, fileName, frontEnd);
    if (ranges)
        for (const auto& r : *ranges)
            if (r.start <= r.end)
                progress.total += r.end - r.start + 1;
    const std::vector<SaveRange> list = CollectRanges(ranges);
    if (profile_) {
        profile_->Select(section_, "File") << fileName << '\n';  // stored now
        profile_->clear();
    }
    for (const SaveRange& range : list) {
        if (Stopped(progress))
            break;
        ReadRange(range, progress);
    }
    SaveOutcome outcome =
        Finish(file, writer, fileName, progress.saved, progress.readFailed, progress.writeFailed);
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
    uint32_t fill = 0, bufferAddress = start;
    while (start < stop && !Stopped(p)) {
        if (fill == 0 && p.frontEnd) {
            char text[16];
            std::snprintf(text, sizeof text, "%x", start);
            p.frontEnd->ShowAddress(text);
        }
        uint32_t count = std::min<uint32_t>(stop - start, kReadSize);
        uint32_t got =
            engine_.ReadMemory(WireAddress(start, code_), p.buffer + fill, count, kReadTimeoutMs);
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
        p.saved += got;
        if (p.frontEnd)
            p.frontEnd->BytesSaved(p.saved, p.total);
        if (fill > kBufferSize - kReadSize) {
            WriteBuffer(p, bufferAddress, fill);
            fill = 0;
            bufferAddress = start;
        }
    }
    WriteBuffer(p, bufferAddress, fill);
}

void SaveCommand::WriteBuffer(Progress& p, uint32_t address, uint32_t fill) {
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
}

SaveOutcome SaveCommand::Finish(platform::ReplacementFile& file, WSRecord& writer,
                                const std::string& fileName, uint32_t saved, bool readFailed,
                                bool writeFailed) {
    if (!cancelled_ && !readFailed && !writeFailed) {
        if (writer.Close(0) && file.Commit())
            return SaveOutcome::Saved;
        const int error = writer.WriteError() != 0 ? writer.WriteError() : file.Error();
        msgout() << "Cannot write file " << fileName << ": " << std::strerror(error) << ".\n";
        return SaveOutcome::Failed;
    }
    writer.Discard();
    // What was read is worth keeping, under a name that no one takes for a complete file.
    if (!writeFailed && saved > 0) {
        const std::string partial = file.Target() + ".partial";
        if (file.KeepAs(partial))
            msgout() << "The " << std::dec << saved << (saved == 1 ? " byte" : " bytes")
                     << " read so far " << (saved == 1 ? "is" : "are") << " kept in " << partial
                     << ".\n";
    }
    return cancelled_ ? SaveOutcome::Cancelled : SaveOutcome::Failed;
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
