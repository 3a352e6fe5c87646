#include "station/PortPattern.h"

#include <dirent.h>
#include <glob.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace station {
namespace {

std::optional<std::string> RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved)
        return std::nullopt;
    return std::string(resolved.get());
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

struct DirectoryClose {
    void operator()(DIR* d) const { closedir(d); }
};

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<std::string> ExpandPortPattern(const std::string& pattern) {
    std::vector<std::string> paths;
    glob_t found{};
    // Without GLOB_NOCHECK, a pattern that matches nothing gives nothing rather than itself.
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i)
            paths.emplace_back(found.gl_pathv[i]);
    }
    globfree(&found);
    return paths;
}

std::string ByIdName(const std::string& port, const std::string& byIdDir) {
    const std::optional<std::string> dir = RealPath(byIdDir);
    if (!dir)
        return {};
    const std::optional<std::string> device = RealPath(port);
    if (!device)
        return {};
    // Named by id already: that name, even where another entry leads to the same device.
    const std::string name = NameOf(port);
    if (!name.empty() && RealPath(DirectoryOf(port)) == dir)
        return name;
    std::unique_ptr<DIR, DirectoryClose> entries(opendir(dir->c_str()));
    if (!entries)
        return {};
    std::string best;
    while (const dirent* entry = readdir(entries.get())) {
        const std::string candidate = entry->d_name;
        if (candidate == "." || candidate == "..")
            continue;
        if ((best.empty() || candidate < best) && RealPath(*dir + "/" + candidate) == device)
            best = candidate;
    }
    return best;
}

}  // namespace station
