#include "station/ReportFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Clock.h"
#include "platform/Deadline.h"

namespace station {
namespace {

// How long a FIFO's or a device's reader may leave a record unread before the append fails.
constexpr int kWriteTimeoutMs = 10000;

// How long another station may hold the file's lock before the append fails.
constexpr int kLockTimeoutMs = 10000;

// Locks the regular file against the other stations' appends, so that its last byte is read
// only between whole records: a record being written shows its size before all its bytes.
bool LockAgainstOtherWriters(int fd, std::string& error) {
    const platform::Deadline deadline = platform::Deadline::In(kLockTimeoutMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            error = std::strerror(errno);
            return false;
        }
        const int left = deadline.RemainingMs();
        if (left == 0) {
            error = "another writer held the file for more than " + std::to_string(kLockTimeoutMs) +
                    " ms";
            return false;
        }
        platform::SleepMs(static_cast<uint32_t>(std::min(left, 2)));
    }
    return true;
}

// True when the regular file behind fd is not empty and its last byte is not a newline.
bool EndsInCutLine(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size == 0)
        return false;
    char last = '\n';
    return pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
}

// Writes all of text; one write(2) unless the kernel takes only a part.
bool WriteAll(int fd, const std::string& text, std::string& error) {
    const platform::Deadline deadline = platform::Deadline::In(kWriteTimeoutMs);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {  // a full pipe or device (opened without blocking)
            pollfd p{fd, POLLOUT, 0};
            const int r = poll(&p, 1, deadline.RemainingMs());
            if (r == 0) {
                error = "nothing read the record for " + std::to_string(kWriteTimeoutMs) + " ms";
                return false;
            }
            if (r < 0 && errno != EINTR) {
                error = std::strerror(errno);
                return false;
            }
            continue;
        }
        error = n < 0 ? std::strerror(errno) : "nothing written";
        return false;
    }
    return true;
}

}  // namespace

ReportFile::~ReportFile() {
    Close();
}

bool ReportFile::Open(const std::string& path, std::string& error) {
    std::lock_guard lock(mutex_);
    CloseLocked();
    // A regular file is opened for reading too, to see whether its last line is complete. A
    // special file is opened without blocking, so that a FIFO without a reader is an error
    // instead of a hang.
    struct stat st;
    const bool special = stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    const int flags =
        O_APPEND | O_CLOEXEC | O_NOCTTY | (special ? O_WRONLY | O_NONBLOCK : O_RDWR | O_CREAT);
    const int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) {
        error = path + ": " +
                (errno == ENXIO ? "no process reads the FIFO" : std::string(std::strerror(errno)));
        return false;
    }
    if (fstat(fd, &st) != 0) {
        error = path + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    fd_ = fd;
    regular_ = S_ISREG(st.st_mode);
    path_ = path;
    return true;
}

bool ReportFile::Append(const nlohmann::json& record, std::string& error) {
    // Bytes that are not UTF-8 (a radio's name, say) are replaced rather than losing the record.
    std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    line += '\n';
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        error = "the report file is not open";
        return false;
    }
    std::string reason;
    if (regular_) {
        if (!LockAgainstOtherWriters(fd_, reason)) {
            error = path_ + ": " + reason;
            return false;
        }
        if (EndsInCutLine(fd_))
            line.insert(line.begin(), '\n');
    }
    const bool written = WriteAll(fd_, line, reason);
    if (regular_)
        (void)flock(fd_, LOCK_UN);
    if (!written) {
        error = path_ + ": " + reason;
        return false;
    }
    if (regular_ && fdatasync(fd_) != 0) {
        error = path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void ReportFile::Close() {
    std::lock_guard lock(mutex_);
    CloseLocked();
}

bool ReportFile::IsOpen() const {
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

void ReportFile::CloseLocked() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    regular_ = false;
    path_.clear();
}

}  // namespace station
