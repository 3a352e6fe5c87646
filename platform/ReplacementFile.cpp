#include "platform/ReplacementFile.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
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

// Where text for standard output or a special file is collected until it is complete.
std::string TemporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
}

// A descriptor for writing into a special file: a socket is connected to, anything else is
// opened (a FIFO waits here for its reader, as any writer of a FIFO does).
int OpenForWritingInto(const std::string& path, const struct stat& st) {
    if (S_ISSOCK(st.st_mode)) {
        sockaddr_un address{};
        if (path.size() >= sizeof address.sun_path) {
            errno = ENAMETOOLONG;
            return -1;
        }
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            close(fd);
            errno = error;
            return -1;
        }
        return fd;
    }
    return open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
}

// A new file named prefix + ".XXXXXX" with the Xs made unique; -1 (errno set) when it fails.
int CreateNamed(const std::string& prefix, std::string& name) {
    std::string pattern = prefix + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkostemp(buffer.data(), O_CLOEXEC);
    name = buffer.data();
    return fd;
}

mode_t DefaultMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool NamesStandardOutput(const std::string& path) {
    return path == "-" || path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1";
}

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
    destination_ = Destination::Replace;
    struct stat st;
    if (NamesStandardOutput(target)) {
        destination_ = Destination::StandardOutput;
        target_ = target;
        return CreateStaging();
    }
    if (stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            error_ = EISDIR;
            return false;
        }
        // Never replaced: a FIFO's reader, a device or a listening socket gets the text.
        destination_ = Destination::WriteInto;
        target_ = target;
        return CreateStaging();
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
    std::string name;
    fd_ = CreateNamed(target_ + ".tmp", name);
    if (fd_ < 0) {
        error_ = errno;
        return false;
    }
    temp_ = name;
    unnamed_ = false;
    return true;
}

bool ReplacementFile::CreateStaging() {
    const std::string dir = TemporaryDirectory();
    fd_ = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        // No unnamed files there: a named one, gone from the directory at once.
        std::string name;
        fd_ = CreateNamed(dir + "/zimp", name);
        if (fd_ < 0) {
            error_ = errno;
            return false;
        }
        unlink(name.c_str());
    }
    temp_ = "/proc/self/fd/" + std::to_string(fd_);
    if (access(temp_.c_str(), W_OK) != 0) {
        error_ = errno;
        CloseDescriptor();
        temp_.clear();
        return false;
    }
    unnamed_ = true;  // nothing to remove
    return true;
}

bool ReplacementFile::CopyInto(int out) {
    char buffer[64 * 1024];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = pread(fd_, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error_ = errno;
            return false;
        }
        if (n == 0)
            return true;
        offset += n;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                error_ = w < 0 ? errno : EIO;
                return false;
            }
            done += w;
        }
    }
}

bool ReplacementFile::WriteIntoTarget() {
    bool ok;
    if (destination_ == Destination::StandardOutput) {
        // The shell's descriptor: its offset and append mode stay as the shell set them.
        ok = CopyInto(STDOUT_FILENO);
    } else {
        struct stat st;
        const int out = stat(target_.c_str(), &st) == 0 ? OpenForWritingInto(target_, st) : -1;
        if (out < 0) {
            error_ = errno;
            ok = false;
        } else {
            ok = CopyInto(out);
            if (close(out) != 0 && ok) {
                error_ = errno;
                ok = false;
            }
        }
    }
    Discard();
    return ok;
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
    if (destination_ != Destination::Replace)
        return WriteIntoTarget();
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
    if (destination_ != Destination::Replace) {
        error_ = EOPNOTSUPP;
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
