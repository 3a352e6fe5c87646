#include "platform/ReplacementFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

namespace platform {
namespace {

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A name beside target that no file has yet, for a link that is renamed at once.
std::string UnusedName(const std::string& target) {
    static constexpr std::string_view kLetters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // Seeded from the clock and the process, not a random device that may be missing: a name
    // already taken is only tried again.
    thread_local std::minstd_rand random{static_cast<std::minstd_rand::result_type>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ getpid())};
    std::string name = target + ".tmp.";
    for (int i = 0; i < 6; ++i)
        name += kLetters[random() % kLetters.size()];
    return name;
}

mode_t DefaultMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::string ResolveLinks(const std::string& path) {
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::vector<char> link(PATH_MAX + 1);
        ssize_t n = readlink(current.c_str(), link.data(), PATH_MAX);
        if (n <= 0)
            return current;
        std::string next(link.data(), static_cast<size_t>(n));
        if (next[0] != '/')
            next = DirectoryOf(current) + "/" + next;
        current = next;
    }
    return current;
}

ReplacementFile::~ReplacementFile() {
    Discard();
}

bool ReplacementFile::Fail() {
    error_ = errno;
    Discard();
    return false;
}

void ReplacementFile::CloseDescriptor() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool ReplacementFile::Create(const std::string& target, Temporary kind) {
    Discard();
    error_ = 0;
    if (target.empty()) {
        error_ = ENOENT;
        return false;
    }
    target_ = ResolveLinks(target);
    // Unnamed until complete where the file system allows it, so that a process killed while
    // writing leaves nothing behind. Writers open it by its /proc name.
    if (kind == Temporary::Unnamed)
        fd_ = open(DirectoryOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
        temp_ = "/proc/self/fd/" + std::to_string(fd_);
        if (access(temp_.c_str(), W_OK) == 0) {
            unnamed_ = true;
            return true;
        }
        CloseDescriptor();  // no /proc: named instead
        temp_.clear();
    }
    std::string pattern = target_ + ".tmp.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return false;
    }
    temp_ = name.data();
    unnamed_ = false;
    return true;
}

bool ReplacementFile::GiveName() {
    if (!unnamed_)
        return true;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = UnusedName(target_);
        if (linkat(AT_FDCWD, temp_.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp_ = name;
            unnamed_ = false;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool ReplacementFile::Write(const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t w = write(fd_, p, left);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            error_ = w < 0 ? errno : EIO;
            return false;
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    return true;
}

bool ReplacementFile::Commit() {
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    struct stat old;
    if (stat(target_.c_str(), &old) == 0) {
        if (fchmod(fd_, old.st_mode & 07777) != 0)
            return Fail();
        // Only root may give a file away; anyone else keeps the file as their own.
        if (fchown(fd_, old.st_uid, old.st_gid) != 0 && errno != EPERM)
            return Fail();
    } else if (fchmod(fd_, DefaultMode()) != 0) {
        return Fail();
    }
    if (fsync(fd_) != 0 || !GiveName())
        return Fail();
    if (close(fd_) != 0) {
        fd_ = -1;
        return Fail();
    }
    fd_ = -1;
    if (rename(temp_.c_str(), target_.c_str()) != 0)
        return Fail();
    temp_.clear();
    // The rename itself reaches the disk with the directory.
    int dir = open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)fsync(dir);
        close(dir);
    }
    return true;
}

bool ReplacementFile::KeepAs(const std::string& path) {
    if (temp_.empty()) {
        error_ = ENOENT;
        return false;
    }
    (void)fchmod(fd_, DefaultMode());
    (void)fsync(fd_);
    if (!GiveName())
        return Fail();
    CloseDescriptor();
    if (rename(temp_.c_str(), path.c_str()) != 0)
        return Fail();
    temp_.clear();
    return true;
}

void ReplacementFile::Discard() {
    CloseDescriptor();
    if (!temp_.empty() && !unnamed_)
        unlink(temp_.c_str());
    temp_.clear();
    unnamed_ = false;
}

std::string ReplacementFile::ErrorText() const {
    return std::strerror(error_);
}

}  // namespace platform
