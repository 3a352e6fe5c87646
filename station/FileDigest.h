#pragma once
// SHA-256 digests, in lower-case hex, of what was loaded into or saved from a radio, so that
// the record of a run names the exact image.

#include <cstddef>
#include <optional>
#include <string>

namespace station {

// The digest of a regular file's content, read in chunks. Nothing, with the reason, when the
// file cannot be read or is not a regular file (a FIFO or a device has no end to digest).
std::optional<std::string> Sha256File(const std::string& path, std::string& error);
// The digest of size bytes at data.
std::string Sha256Hex(const void* data, size_t size);

}  // namespace station
