#pragma once
// The last images loaded, newest first, kept in the configuration as the desktop framework
// kept them: section "Recent File List", keys "File1" to "File4".

#include <string>
#include <vector>

#include "streams/Configuration.h"

namespace memops {

inline constexpr size_t kRecentFileCount = 4;

// The list as stored: empty and over-long entries are left out, as are repeats.
std::vector<std::string> ReadRecentFiles(streams::Configuration& profile);
// Puts file (made absolute) first and keeps at most kRecentFileCount entries.
void RememberRecentFile(streams::Configuration& profile, const std::string& file);

}  // namespace memops
