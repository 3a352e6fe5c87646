#pragma once
// Reading input of unknown size under a limit: a file, a pipe or a device is read until its
// end or until it exceeds the limit, whichever comes first, so that endless input (/dev/zero,
// a pipe that never closes its end) never grows memory without bound.

#include <cstddef>
#include <string>

namespace platform {

enum class ReadStatus {
    Ok,          // read whole
    Missing,     // the file does not exist
    TooLarge,    // more than the limit; nothing kept
    Unreadable,  // cannot be opened or read (errno says why)
};

// Reads the open descriptor fd to its end into out, at most limit bytes.
ReadStatus ReadBounded(int fd, size_t limit, std::string& out);
// Opens path and reads it whole under limit.
ReadStatus ReadFileBounded(const std::string& path, size_t limit, std::string& out);

}  // namespace platform
