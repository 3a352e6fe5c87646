#include "srecord/SRecordWriter.h"

#include <strings.h>

#include <cerrno>
#include <cstring>

#include "platform/HexText.h"

namespace srecord {

namespace {

// The reader takes at most 256 characters a line, so a record's count is at most 0x7D.
constexpr int kMaxCount = 0x7D;

}  // namespace

SRecordWriter::~SRecordWriter() {
    Discard();
}

int SRecordWriter::MaxDataBytes(int addressBytes) {
    return kMaxCount - addressBytes - 1;
}

bool SRecordWriter::KnownType(const char* type) {
    return type != nullptr && (strcasecmp(type, "S1") == 0 || strcasecmp(type, "S2") == 0 ||
                               strcasecmp(type, "S3") == 0);
}

bool SRecordWriter::Open(const char* fileName, const char* headerText, const char* type) {
    Discard();
    if (fileName == nullptr || *fileName == '\0' || headerText == nullptr || *headerText == '\0' ||
        type == nullptr) {
        return false;
    }
    int size;
    if (strcasecmp(type, "S1") == 0) {
        size = 0;
    } else if (strcasecmp(type, "S2") == 0) {
        size = 1;
    } else if (strcasecmp(type, "S3") == 0) {
        size = 2;
    } else {
        return false;
    }
    const size_t headerLength = std::strlen(headerText);
    if (headerLength > static_cast<size_t>(MaxDataBytes(2)))
        return false;
    // Binary mode with explicit CR LF: the files are read on other systems.
    out_ = std::fopen(fileName, "wb");
    if (out_ == nullptr)
        return false;
    addressSize_ = size;
    failed_ = false;
    writeError_ = 0;
    WriteLine(kHeader, 0, reinterpret_cast<const uint8_t*>(headerText),
              static_cast<int>(headerLength));
    mode_ = kData;
    return !failed_;
}

bool SRecordWriter::WriteRecord(uint32_t address, const uint8_t* data, int length) {
    if (out_ == nullptr || length < 0 || length > MaxDataBytes() || (length > 0 && !data)) {
        return false;
    }
    return WriteLine(kData, address, data, length);
}

bool SRecordWriter::Close(uint32_t entryAddress) {
    if (out_ == nullptr)
        return false;
    bool ok = WriteLine(kTermination, entryAddress, nullptr, 0);
    if (std::fclose(out_) != 0) {
        ok = false;
        if (writeError_ == 0)
            writeError_ = errno;
    }
    out_ = nullptr;
    return ok && !failed_;
}

bool SRecordWriter::Flush() {
    if (out_ == nullptr)
        return false;
    if (std::fflush(out_) != 0) {
        if (!failed_)
            writeError_ = errno;
        failed_ = true;
    }
    return !failed_;
}

void SRecordWriter::Discard() {
    if (out_ != nullptr)
        std::fclose(out_);
    out_ = nullptr;
}

bool SRecordWriter::WriteLine(Mode mode, uint32_t address, const uint8_t* data, int length) {
    static const char* const kTypes[3][3] = {
        {"S1", "S0", "S9"}, {"S2", "S0", "S8"}, {"S3", "S0", "S7"}};
    const int addressBytes = mode == kHeader ? 2 : 2 + addressSize_;
    if (addressBytes < 4 && (address >> (8 * addressBytes)) != 0)
        return false;
    mode_ = mode;
    address_ = address;
    length_ = length;

    const uint32_t count = static_cast<uint32_t>(length + addressBytes + 1) & 0xFF;
    uint32_t sum = count;
    for (int i = 0; i < addressBytes; ++i)
        sum += (address >> (8 * i)) & 0xFF;
    for (int i = 0; i < length; ++i)
        sum += data[i];

    char line[2 + 2 + 8 + 2 * 256 + 2 + 2];
    char* p = line;
    std::memcpy(p, kTypes[addressSize_][mode], 2);
    p += 2;
    p = platform::PutHexDigits(p, count, 2);
    p = platform::PutHexDigits(p, address, 2 * addressBytes);
    for (int i = 0; i < length; ++i)
        p = platform::PutHexDigits(p, data[i], 2);
    p = platform::PutHexDigits(p, 255 - (sum & 0xFF), 2);
    *p++ = '\r';
    *p++ = '\n';
    const size_t n = static_cast<size_t>(p - line);
    if (std::fwrite(line, 1, n, out_) != n) {
        if (!failed_)
            writeError_ = errno;
        failed_ = true;
    }
    return !failed_;
}

}  // namespace srecord
