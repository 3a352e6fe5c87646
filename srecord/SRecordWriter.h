#pragma once
// SRecordWriter: writes an S-Record file, one record per call: Open writes the S0 header record,
// WriteRecord one data record (S1, S2 or S3 by the file's type), Close the termination record
// (S9, S8 or S7). Upper-case hex, CR LF line ends. Splitting data into records and choosing
// addresses is the caller's business.
//
// The writer never writes a line the reader (ImageReader) would refuse: WriteRecord returns false
// for an address that does not fit the type (above 0xFFFF in an S1 file, above 0xFFFFFF in an
// S2 file) or for more data bytes than a line can carry (MaxDataBytes), and the caller reports
// it. Write errors of the file are reported the same way.

#include <cstdint>
#include <cstdio>

namespace srecord {

class SRecordWriter {
  public:
    SRecordWriter() = default;
    ~SRecordWriter();
    SRecordWriter(const SRecordWriter&) = delete;
    SRecordWriter& operator=(const SRecordWriter&) = delete;

    // Creates (truncates) fileName and writes the header record. type is "S1", "S2" or "S3" in
    // either case. False, with nothing created, for a missing or empty name or header, a header
    // longer than one record holds, or an unknown type; false when the file cannot be created.
    bool Open(const char* fileName, const char* headerText, const char* type);
    // One data record of length bytes at address; false when refused, not open or not written.
    bool WriteRecord(uint32_t address, const uint8_t* data, int length);
    // Writes the termination record with entryAddress and closes the file. False when the
    // record was refused or the file could not be written; the file is closed either way.
    bool Close(uint32_t entryAddress);
    // "S1", "S2" or "S3" in either case.
    static bool KnownType(const char* type);
    // Hands what has been written to the system, so that the file holds it even if the
    // process ends at once; false (with WriteError) when that fails.
    bool Flush();
    // Closes the file as it is, without a termination record. Nothing after Close.
    void Discard();

    bool IsOpen() const { return out_ != nullptr; }
    // errno of the first failed write or close of the file; 0 when none failed (a refused
    // record is no write error).
    int WriteError() const { return writeError_; }
    // The most data bytes one record of the open type may carry (122, 121 or 120).
    int MaxDataBytes() const { return MaxDataBytes(2 + addressSize_); }
    static int MaxDataBytes(int addressBytes);

  private:
    enum Mode { kData = 0, kHeader = 1, kTermination = 2 };
    bool WriteLine(Mode mode, uint32_t address, const uint8_t* data, int length);

    int addressSize_ = 0;  // 0 S1 (16-bit), 1 S2 (24-bit), 2 S3 (32-bit)
    std::FILE* out_ = nullptr;
    uint32_t address_ = 0;
    int length_ = 32;
    int mode_ = kData;
    bool failed_ = false;  // a write of this file failed
    int writeError_ = 0;
};

}  // namespace srecord
