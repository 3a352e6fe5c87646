#include "platform/FileLocator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <vector>

namespace platform {
namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Join(std::string dir, const std::string& file) {
    if (dir.empty())
        return "";
    if (dir.back() != '/')
        dir += '/';
    return dir + file;
}

std::string BaseName(const std::string& name) {
    size_t slash = name.find_last_of('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

std::string FileLocator::CurrentProgramDir() {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", buf.data(), PATH_MAX);
    if (n <= 0)
        return "";
    std::string path(buf.data(), static_cast<size_t>(n));
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

FileLocator::FileLocator(std::string searchList) : searchList_(std::move(searchList)) {
    std::vector<char> buf(PATH_MAX + 1);
    if (getcwd(buf.data(), buf.size()))
        workingDir_ = buf.data();
    programDir_ = CurrentProgramDir();
}

FileLocator::FileLocator(std::string workingDir, std::string programDir, std::string searchList)
    : workingDir_(std::move(workingDir)),
      programDir_(std::move(programDir)),
      searchList_(std::move(searchList)) {}

std::optional<std::string> FileLocator::Locate(const std::string& name, unsigned flags) const {
    if (name.empty())
        return std::nullopt;
    if ((flags & kAsGiven) && name.find('/') != std::string::npos && Exists(name))
        return name;
    const std::string file = BaseName(name);
    if (file.empty())
        return std::nullopt;
    if (flags & kWorkingDir) {
        if (std::string p = Join(workingDir_, file); Exists(p))
            return p;
    }
    if (flags & kProgramDir) {
        if (std::string p = Join(programDir_, file); Exists(p))
            return p;
    }
    if (flags & kSearchList) {
        std::string dir;
        for (size_t i = 0; i <= searchList_.size(); ++i) {
            char c = i < searchList_.size() ? searchList_[i] : ';';
            if (c == ';') {
                if (std::string p = Join(dir, file); Exists(p))
                    return p;
                dir.clear();
            } else if (c != ' ' && c != '\t') {
                dir += c;
            }
        }
    }
    return std::nullopt;
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty())
        return path;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

}  // namespace platform
