#include "station/SerialCounter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/BoundedRead.h"
#include "platform/Clock.h"
#include "platform/Deadline.h"
#include "platform/ReplacementFile.h"

namespace station {
namespace {

constexpr int kPollMs = 20;
// A number and its newline take 11 bytes; more than this is not a counter file.
constexpr size_t kMaxContent = 256;

// The content, quoted, with what is not printable shown as \xNN.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        }
    }
    return out + "\"";
}

// The number in text: decimal digits only (from_chars takes no sign or space), with one
// optional trailing newline.
std::optional<uint64_t> ParseCounter(const std::string& text) {
    std::string_view digits(text);
    if (!digits.empty() && digits.back() == '\n')
        digits.remove_suffix(1);
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() ||
        value > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    return value;
}

}  // namespace

SerialCounter::Lease::Lease(std::string path, int lockFd, uint32_t number)
    : path_(std::move(path)), lockFd_(lockFd), number_(number) {}

SerialCounter::Lease::Lease(Lease&& other) noexcept
    : path_(std::move(other.path_)),
      lockFd_(std::exchange(other.lockFd_, -1)),
      number_(other.number_) {}

SerialCounter::Lease& SerialCounter::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        Release();
        path_ = std::move(other.path_);
        lockFd_ = std::exchange(other.lockFd_, -1);
        number_ = other.number_;
    }
    return *this;
}

SerialCounter::Lease::~Lease() {
    Release();
}

void SerialCounter::Lease::Release() {
    // Closing the only descriptor of the lock file's open file description drops the flock.
    if (lockFd_ >= 0)
        close(lockFd_);
    lockFd_ = -1;
}

bool SerialCounter::Lease::Commit(std::string& error) {
    if (lockFd_ < 0) {
        error = path_ + ": the serial number was already committed or given back";
        return false;
    }
    platform::ReplacementFile file;
    if (!file.Create(path_) || !file.Write(std::to_string(uint64_t(number_) + 1) + "\n") ||
        !file.Commit()) {
        error = path_ + ": " + file.ErrorText();
        return false;
    }
    Release();
    return true;
}

SerialCounter::SerialCounter(std::string path) : path_(std::move(path)) {}

std::optional<SerialCounter::Lease> SerialCounter::Take(std::string& error,
                                                        const std::atomic<bool>* cancel,
                                                        int timeoutMs) {
    // The lock is on a file beside the counter, since the counter itself is replaced by a rename
    // and a lock on the old file would not hold back a station that opens the new one.
    const std::string lockPath = path_ + ".lock";
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        error = lockPath + ": " + std::strerror(errno);
        return std::nullopt;
    }
    auto fail = [&](const std::string& reason) {
        error = reason;
        close(fd);
        return std::nullopt;
    };
    const platform::Deadline deadline =
        platform::Deadline::In(static_cast<uint64_t>(std::max(timeoutMs, 0)));
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return fail(lockPath + ": " + std::strerror(errno));
        if (cancel != nullptr && cancel->load())
            return fail(lockPath + ": cancelled while another station held the lock");
        const int left = deadline.RemainingMs();
        if (left == 0)
            return fail(lockPath + ": another station held the lock for more than " +
                        std::to_string(timeoutMs) + " ms (timed out)");
        platform::SleepMs(static_cast<uint32_t>(std::min(left, kPollMs)));
    }

    std::string content;
    switch (platform::ReadFileBounded(path_, kMaxContent, content)) {
        case platform::ReadStatus::Ok:
            break;
        case platform::ReadStatus::Missing:
            return fail(path_ + ": no such counter file; create it with the first serial number");
        case platform::ReadStatus::TooLarge:
            return fail(path_ + ": more than " + std::to_string(kMaxContent) +
                        " bytes, not a serial number");
        case platform::ReadStatus::Unreadable:
            return fail(path_ + ": " + std::strerror(errno));
    }
    const std::optional<uint64_t> number = ParseCounter(content);
    if (!number)
        return fail(path_ + ": " + Quoted(content) +
                    " is not a serial number (one decimal number of at most 32 bits)");
    // Handing out the last value would leave a next number that does not fit.
    if (*number == std::numeric_limits<uint32_t>::max())
        return fail(path_ + ": the counter is exhausted (" + std::to_string(*number) + ")");
    return Lease(path_, fd, static_cast<uint32_t>(*number));
}

}  // namespace station
