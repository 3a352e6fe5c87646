#include "memops/SaveCommand.h"

#include <cstdio>
#include <cstring>

#include "memops/MemoryKinds.h"
#include "memops/Startup.h"
#include "platform/ReplacementFile.h"
#include "srecord/WSRecord.h"
#include "streams/MessageStreams.h"

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

    uint32_t start = 0, end = 0;
    size_t given = 0;
    uint32_t total = 0;
    if (ranges) {
        for (const auto& r : *ranges)
            if (r.start <= r.end)
                total += r.end - r.start + 1;
        if (given < ranges->size()) {
            start = (*ranges)[given].start;
            end = (*ranges)[given].end;
            ++given;
        }
    } else {
        NextConfiguredRange(1, start, end);
    }
    if (profile_) {
        profile_->Select(section_, "File") << fileName << '\n';  // stored now
        profile_->clear();
    }

    uint8_t buffer[kBufferSize];
    bool readFailed = false, writeFailed = false;
    uint32_t saved = 0;
    auto writeOut = [&](uint32_t address, uint32_t fill) {
        for (uint32_t off = 0; off < fill && !writeFailed; off += kRecordBytes) {
            int n = static_cast<int>(std::min<uint32_t>(kRecordBytes, fill - off));
            if (!writer.WriteRecord(address + off, buffer + off, n)) {
                writeFailed = true;
                if (writer.WriteError() != 0)
                    msgout() << "Cannot write file " << fileName << ": "
                             << std::strerror(writer.WriteError()) << ".\n";
                else
                    msgout() << "Cannot write the record at address " << std::hex << (address + off)
                             << std::dec << " to " << fileName << ".\n";
            }
        }
    };
    auto stopped = [&] { return cancelled_ || readFailed || writeFailed; };

    int index = 2;
    while (!stopped()) {
        if (start >= end)
            break;
        uint32_t stop = end + 1;  // the end is inclusive
        if (stop == 0)
            stop = 0xFFFFFFFFu;  // a range up to the top address
        uint32_t fill = 0, bufferAddress = start;
        while (start < stop && !stopped()) {
            if (fill == 0 && frontEnd) {
                char text[16];
                std::snprintf(text, sizeof text, "%x", start);
                frontEnd->ShowAddress(text);
            }
            uint32_t count = std::min<uint32_t>(stop - start, kReadSize);
            uint32_t got =
                engine_.ReadMemory(WireAddress(start, code_), buffer + fill, count, kReadTimeoutMs);
            if (engine_.ReportError()) {
                readFailed = !cancelled_;
                break;
            }
            if (got == 0) {
                // A read the user aborted ends silently; otherwise the radio answered with no
                // data, and the same read would repeat forever.
                if (!cancelled_)
                    msgout() << "Reply Format is wrong.\n";
                readFailed = !cancelled_;
                break;
            }
            fill += got;
            start += got;
            saved += got;
            if (frontEnd)
                frontEnd->BytesSaved(saved, total);
            if (fill > kBufferSize - kReadSize) {
                writeOut(bufferAddress, fill);
                fill = 0;
                bufferAddress = start;
            }
        }
        writeOut(bufferAddress, fill);
        if (ranges) {
            if (given < ranges->size()) {
                start = (*ranges)[given].start;
                end = (*ranges)[given].end;
                ++given;
            }
        } else {
            NextConfiguredRange(index, start, end);
        }
        ++index;
    }
    SaveOutcome outcome = Finish(file, writer, fileName, saved, readFailed, writeFailed);
    saving_ = false;
    return outcome;
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
