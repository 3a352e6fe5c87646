#pragma once
// INI file access by section and key, with the rules of the configuration files: sections and
// keys match without regard to case; values are trimmed of blanks and of one pair of
// surrounding quotes; a missing file, section or key reads as the default; a write replaces
// one value in place and keeps every other line, comment and the order. Writes go through a
// temporary file and an atomic rename, so a crash never leaves a half-written file; a symbolic
// link is written through to its target. A file larger than kMaxIniFileSize is neither read
// (every value reads as its default) nor written.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/BoundedRead.h"

namespace platform {

inline constexpr size_t kMaxIniFileSize = 1 << 20;

// Whether file can serve as the configuration: Ok, Missing, TooLarge or Unreadable.
ReadStatus CheckIniFile(const std::string& file);

// Copies the value (or def) into buf, cut to size - 1 characters and zero-terminated; returns
// the number of characters copied.
size_t ReadIniValue(const char* section, const char* key, const char* def, char* buf, size_t size,
                    const std::string& file);
// Stores value under section/key, adding the section and key when missing. false when the
// file cannot be written, or exists but cannot be read whole (it is then left as it is).
bool WriteIniValue(const char* section, const char* key, const char* value,
                   const std::string& file);
// The key names of a section, in file order.
std::vector<std::string> IniKeys(const char* section, const std::string& file);

}  // namespace platform
