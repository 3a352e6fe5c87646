#include "memops/TqvBootLoad.h"

#include <algorithm>
#include <cstdio>

#include "memops/FieldChecks.h"
#include "platform/Clock.h"
#include "platform/Deadline.h"
#include "platform/FileLocator.h"
#include "platform/SerialDevice.h"
#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"
#include "streams/MessageStreams.h"

using streams::Configuration;
using streams::msgout;

using srecord::ChunkReader;
using srecord::Image;
using srecord::ImageReader;
using srecord::ReadResult;
using srecord::ReportReadError;

namespace memops {

void ReadTqvSettings(Configuration& p, TqvSettings& s) {
    const char* section = "TqvBootLoad";
    s.file = p.ReadFileName(section, "File");
    s.patchFile = p.ReadFileName(section, "PatchFile");
    p.ReadInteger(section, "BaudRate", s.headerRate);
    p.ReadInteger(section, "DataBaudRate", s.dataRate);
    p.ReadInteger(section, "DisablePatch", s.disablePatch);
    p.ReadInteger(section, "ProcessorType", s.processorType);
    p.ReadInteger(section, "TQVFactor", s.factor);
    p.clear();
}

void WriteTqvSettings(Configuration& p, const TqvSettings& s) {
    p.clear();
    p.SelectSection("TqvBootLoad");
    p << std::dec;
    // Whole names, which still hold when the program starts elsewhere.
    p.SelectKey("File");
    p << platform::AbsolutePath(s.file);
    p.SelectKey("PatchFile");
    p << platform::AbsolutePath(s.patchFile);
    p.SelectKey("BaudRate");
    p << s.headerRate;
    p.SelectKey("DisablePatch");
    p << s.disablePatch;
    p.SelectKey("ProcessorType");
    p << s.processorType;
    p.SelectKey("DataBaudRate");
    p << s.dataRate;
    p.SelectKey("TQVFactor");
    p << s.factor << '\n';  // the last value is stored now, not at some later selection
    p.clear();
}

bool ValidateTqvSettings(const TqvSettings& s) {
    std::ostream& out = msgout();
    out << std::dec;
    return CheckIntegerRange(s.headerRate, 300, 1000000) && CheckIntegerRange(s.factor, 0, 4096) &&
           CheckIntegerRange(s.dataRate, 300, 460800);
}

std::vector<uint8_t> BuildTqvBlock(const Image& image, uint32_t factor) {
    const uint32_t start = image.FirstAddress();
    const uint32_t length = image.EndAddress() - start;
    std::vector<uint8_t> block(12 + static_cast<size_t>(length) + 1, 0);
    block[0] = block[1] = block[2] = 0x55;
    block[3] = 0xAA;
    for (int i = 0; i < 4; ++i)
        block[4 + i] = static_cast<uint8_t>(start >> (24 - 8 * i));
    block[8] = static_cast<uint8_t>(length >> 8);
    block[9] = static_cast<uint8_t>(length);
    block[10] = static_cast<uint8_t>(factor >> 8);
    block[11] = static_cast<uint8_t>(factor);
    if (length > 0)
        ChunkReader(image).ReadWindow(block.data() + 12, static_cast<int>(length), 0x00);
    unsigned sum = 0;
    for (size_t i = 4; i < 12 + static_cast<size_t>(length); ++i)
        sum += block[i];
    block.back() = static_cast<uint8_t>(0xFF - (sum & 0xFF));
    return block;
}

bool TqvBootLoad::Handshake(uint32_t headerRate) {
    const platform::Deadline deadline = platform::Deadline::In(5000);
    port_->Purge(platform::kPurgeAll);
    port_->SetBaudRate(headerRate);
    const uint32_t t = 640000 / headerRate + 1;
    port_->SetWriteTimeout(t);
    port_->SetReadTimeout(t);
    do {
        const uint8_t aA[2] = {0x61, 0x41};
        port_->WriteDirect(aA, 2);
        uint8_t answer = 0;
        if (port_->ReadDirect(&answer, 1) == 1 && answer == 0x5A)
            return true;
        // A closed port moves nothing and returns at once: do not spin on it.
        if (!port_->IsOpen())
            platform::SleepMs(t);
    } while (!deadline.Passed());
    msgout() << "Can not receive the baudrate acknowladge.\n";
    return false;
}

bool TqvBootLoad::SendImage(const std::string& file, uint32_t headerRate, uint32_t factor,
                            uint32_t dataRate) {
    const ReadResult read = ImageReader::Read(file);
    if (!read) {
        ReportReadError(read.error);
        return false;
    }
    std::vector<uint8_t> block = BuildTqvBlock(*read.image, factor);
    const uint32_t total = static_cast<uint32_t>(block.size());
    port_->Purge(platform::kPurgeAll);
    port_->SetBaudRate(headerRate);
    port_->SetWriteTimeout(
        static_cast<uint32_t>(uint64_t(total) * 320000 / std::min(headerRate, dataRate) + 1));
    uint32_t w1 = port_->WriteDirect(block.data(), 12);
    platform::SleepMs(100);
    port_->SetReadTimeout(10);
    uint8_t first = 0;
    const bool echo = port_->ReadDirect(&first, 1) == 1 && first == 0x55;
    port_->SetBaudRate(dataRate);
    uint32_t w2 = port_->WriteDirect(block.data() + 12, total - 12);
    if (w1 + w2 != total) {
        msgout() << "Cannot write to port\n";
        return false;
    }
    if (echo) {
        port_->SetReadTimeout(50);
        std::vector<uint8_t> rest(total - 1);
        port_->ReadDirect(rest.data(), total - 1);  // L + 12 bytes of echo, dropped
    }
    port_->SetReadTimeout(3000);
    uint8_t ack = 0;
    if (port_->ReadDirect(&ack, 1) != 1) {
        msgout() << "Acknowladge of loading was not received.\n";
        return false;
    }
    if (ack != kAck) {
        char text[64];
        std::snprintf(text, sizeof text, "The received (%02X) acknowladge is wrong.\n", ack);
        msgout() << text;
        return false;
    }
    ++blocks_;
    return true;
}

BootOutcome TqvBootLoad::Run(const TqvSettings& s) {
    port_->PrepareForOperation();  // a device that went away is opened again
    const uint32_t savedRate = port_->EffectiveRate();
    const uint32_t headerRate = static_cast<uint32_t>(s.headerRate);
    const uint32_t dataRate = static_cast<uint32_t>(s.dataRate);
    const uint32_t factor = static_cast<uint32_t>(s.factor);
    blocks_ = 0;
    bool ok = true;
    if (s.processorType == 1)
        ok = Handshake(headerRate);
    if (ok && !s.disablePatch)
        ok = SendImage(s.patchFile, headerRate, factor, dataRate);
    if (ok)
        ok = SendImage(s.file, headerRate, factor, dataRate);
    platform::SleepMs(320000 / headerRate + 1);
    port_->SetBaudRate(savedRate);
    return ok ? BootOutcome::Loaded : BootOutcome::Failed;
}

}  // namespace memops
