#include "memops/RecentFiles.h"

#include <algorithm>
#include <ostream>

#include "platform/FileLocator.h"

namespace memops {

namespace {
const char kSection[] = "Recent File List";
std::string KeyOf(size_t i) {
    return "File" + std::to_string(i + 1);
}
}  // namespace

std::vector<std::string> ReadRecentFiles(streams::Configuration& profile) {
    using streams::ConfigurationBuffer;
    std::vector<std::string> files;
    for (size_t i = 0; i < kRecentFileCount; ++i) {
        std::string f =
            profile.Select(kSection, KeyOf(i)).ReadText(ConfigurationBuffer::kMaxDelivered);
        // A hand-edited list is taken as far as it is usable, without a box.
        if (f.empty() || f.size() > ConfigurationBuffer::kMaxFileName ||
            std::find(files.begin(), files.end(), f) != files.end())
            continue;
        files.push_back(std::move(f));
    }
    profile.clear();
    return files;
}

void RememberRecentFile(streams::Configuration& profile, const std::string& file) {
    // A line break would end the value early and write what follows as keys of its own.
    if (file.empty() || file.find_first_of("\r\n") != std::string::npos)
        return;
    const std::string absolute = platform::AbsolutePath(file);
    std::vector<std::string> files = ReadRecentFiles(profile);
    files.erase(std::remove(files.begin(), files.end(), absolute), files.end());
    files.insert(files.begin(), absolute);
    if (files.size() > kRecentFileCount)
        files.resize(kRecentFileCount);
    for (size_t i = 0; i < files.size(); ++i)
        profile.Select(kSection, KeyOf(i)) << files[i] << std::flush;
    profile.clear();
}

}  // namespace memops
