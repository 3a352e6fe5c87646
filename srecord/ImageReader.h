#pragma once
// ImageReader: turns one S-Record file into an Image, or into the first fault it meets.
//
// The reader is strict: the first faulty line fails the file, with its line number and one of
// the codes below; a file with any fault yields no image. A line ends at CR, LF or CR LF, and
// what follows a record's checksum up to the line end is ignored. The file is read front to back
// in 1 MiB blocks, never whole, so a file that is not S-Record fails on its first line, and a pipe
// or a device is read as a stream under the same 1 GiB limit as a regular file.

#include <memory>
#include <string>

#include "srecord/Image.h"

namespace srecord {

// Why a file yields no image.
struct ReadError {
    static constexpr int kNotSRecord = -1;   // cannot open, empty, unknown record type
    static constexpr int kNotHex = -2;       // non-hex character in count/address/checksum
    static constexpr int kChecksum = -3;     // checksum mismatch
    static constexpr int kTooShort = -4;     // line too short for its count
    static constexpr int kImageBuffer = -5;  // image buffer could not be created

    int code = 0;  // 0: none
    int line = 0;  // the file line of the fault; 0 when the file cannot be opened
};

struct ReadResult {
    std::unique_ptr<Image> image;  // none when the file was refused
    ReadError error;
    explicit operator bool() const { return image != nullptr; }
};

class ImageReader {
  public:
    // Parses the file at path.
    static ReadResult Read(const std::string& path);
};

// Writes "Error in line <n>\r" and the text for the error's code to msgout(): one message box.
void ReportReadError(const ReadError& error);

}  // namespace srecord
