#include "memops/BootLoad.h"

#include <algorithm>
#include <new>

#include "memops/FieldChecks.h"
#include "platform/SerialDevice.h"
#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"
#include "streams/MessageStreams.h"

using serial::PortWorkerKind;
using serial::SerialPort;

using streams::Configuration;
using streams::ConfigurationBuffer;
using streams::msgout;

using srecord::ChunkReader;
using srecord::Image;
using srecord::ImageReader;
using srecord::ReadResult;

namespace memops {

void ReadBootLoadSettings(Configuration& profile, BootLoadSettings& s) {
    std::string file = profile.ReadFileName("BootLoad", "File");
    if (!file.empty())
        s.fileName = file;
    profile.ReadInteger("BootLoad", "Baudrate", s.rate);
    profile.clear();
}

bool ValidateBootLoadSettings(const BootLoadSettings& s) {
    if (!CheckIntegerRange(s.rate, 50, 115200))
        return false;
    if (s.fileName.empty() || s.fileName.size() > ConfigurationBuffer::kMaxFileName) {
        msgout() << std::dec << "The value must have at least 1 character, but no more than "
                 << ConfigurationBuffer::kMaxFileName << "\n";
        return false;
    }
    return true;
}

void BootLoad::Cancel() {
    if (busy_.load() && port_)
        port_->AbortAll();
}

BootOutcome BootLoad::Run(const BootLoadSettings& settings) {
    port_->PrepareForOperation();  // a device that went away is opened again
    const uint32_t savedRate = port_->EffectiveRate();
    const uint32_t rate = static_cast<uint32_t>(settings.rate);
    port_->SetBaudRate(rate);
    busy_ = true;
    n_ = 0;
    echoCount_ = 0;

    std::ostream& out = msgout();
    int32_t result = 0;
    uint32_t span = 0;
    const bool fileOk = ReadProgram(settings.fileName, span);
    if (fileOk && span > kMaxProgram) {
        // The controller would run a program cut short: nothing is sent.
        n_ = 0;
        out << std::dec << "Boot program '" << settings.fileName << "' is " << span
            << " bytes long; the limit is " << kMaxProgram << " bytes.\n";
        busy_ = false;
        port_->SetBaudRate(savedRate);
        return BootOutcome::NotSent;
    }
    if (!fileOk) {
        n_ = 0;
        out << "Cannot download program from file '" << settings.fileName << "'\r";
    } else {
        result = SendProgram(rate);
    }

    // Completion.
    port_->AbortAll();
    if (port_->IsOpen())
        port_->Purge(platform::kPurgeAll);
    port_->WaitWorkerIdle(PortWorkerKind::Writer, 5000);  // the program buffer is ours
    BootOutcome outcome = Judge(result);
    if (outcome == BootOutcome::Failed && !fileOk)
        outcome = BootOutcome::NotSent;
    busy_ = false;
    port_->SetBaudRate(savedRate);
    return outcome;
}

bool BootLoad::ReadProgram(const std::string& fileName, uint32_t& span) {
    const ReadResult read = ImageReader::Read(fileName);
    if (!read)
        return false;
    const Image& image = *read.image;
    span = image.EndAddress() - image.FirstAddress();
    ChunkReader reader(image);
    int got =
        span > kMaxProgram ? 0 : reader.ReadWindow(program_, static_cast<int>(kMaxProgram), 0x00);
    if (got > 0)
        n_ = static_cast<uint32_t>(got);
    return true;
}

int32_t BootLoad::SendProgram(uint32_t rate) {
    // Twice the line time of the program at 10 bits a byte, multiplied before dividing and
    // rounded up, and never below 50 ms: a time-out of 0 would not wait for the echo at all.
    const uint64_t lineMs = (2ull * n_ * 10000 + (rate ? rate : 1) - 1) / (rate ? rate : 1);
    port_->SetReadTimeout(static_cast<uint32_t>(n_ ? std::max<uint64_t>(lineMs, 50) : 0));
    port_->Purge(platform::kPurgeAll);
    write_ = {program_, n_, 0};
    port_->ClearLineErrors();
    const uint8_t start = 0xFF;
    int32_t lineError = 0;
    port_->Write(&start, 1, lineError);
    port_->ClearLineErrors();
    port_->PostWithCallback(PortWorkerKind::Writer, &write_, nullptr);
    int32_t result = 0;
    echoCount_ = port_->ReadPumping(echo_, n_, result);
    return result;
}

BootOutcome BootLoad::Judge(int32_t result) {
    std::ostream& out = msgout();
    if (result == SerialPort::kAborted) {
        out << "Loading was aborted by User\n";
        return BootOutcome::Cancelled;
    }
    if (result != 0) {
        out << "Error Communication - " << std::hex << std::nouppercase << result << std::dec
            << "\n";
        return BootOutcome::Failed;
    }
    if (echoCount_ == 0) {
        out << "There is not echo from radio\n";
        return BootOutcome::Failed;
    }
    BootOutcome outcome = BootOutcome::Loaded;
    for (uint32_t i = 0; i < echoCount_; ++i) {
        if (program_[i] != echo_[i]) {
            out << std::dec << "Error at position " << i
                << ".\rIf position more than 100 don't take care.\n";
            outcome = BootOutcome::Failed;
            break;
        }
    }
    if (echoCount_ < n_) {
        // The read waits out the program's line time twice: the radio did not take it all.
        out << std::dec << "Echo stopped after " << echoCount_ << " of " << n_ << " bytes.\n";
        outcome = BootOutcome::Failed;
    }
    return outcome;
}

}  // namespace memops
