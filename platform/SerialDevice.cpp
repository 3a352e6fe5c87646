#include "platform/SerialDevice.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/BoundedRead.h"
#include "platform/Clock.h"
#include "platform/Deadline.h"
#include "platform/TermiosIo.h"

namespace platform {
namespace {

void Wake(int fd) {
    uint64_t one = 1;
    (void)!write(fd, &one, sizeof one);
}

void Drain(int fd) {
    uint64_t v;
    (void)!read(fd, &v, sizeof v);
}

int MakeWake() {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd;
}

}  // namespace

SerialDevice::SerialDevice()
    : readWake_(MakeWake()), writeWake_(MakeWake()), maskWake_(MakeWake()) {}

SerialDevice::~SerialDevice() {
    Close();
    close(readWake_);
    close(writeWake_);
    close(maskWake_);
}

std::string OpenFailureText(const OpenFailure& f) {
    switch (f.error) {
        case OpenError::None:
            return "no error";
        case OpenError::Busy:
            return "held by another program" + (f.holder.empty() ? "" : " (" + f.holder + ")");
        case OpenError::NotATerminal:
            return "not a serial device";
        case OpenError::Settings:
            return "the device refused the line settings (" +
                   std::string(std::strerror(f.sysErrno)) + ")";
        default:
            return std::strerror(f.sysErrno);
    }
}

namespace {
std::string ProcessName(const std::string& pid) {
    std::string name;
    (void)ReadFileBounded("/proc/" + pid + "/comm", 64, name);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
        name.pop_back();
    return (name.empty() ? "?" : name) + ", pid " + pid;
}

// The process whose flock(2) on the device's inode /proc/locks lists; empty when none.
std::string LockHolder(const struct stat& device, const std::string& self) {
    std::string locks;
    if (ReadFileBounded("/proc/locks", 1 << 20, locks) != ReadStatus::Ok)
        return {};
    // "1: FLOCK  ADVISORY  WRITE 4242 00:05:87 0 EOF"; waiters ("1: -> FLOCK ...") hold nothing.
    char want[64];
    std::snprintf(want, sizeof want, "%02x:%02x:%llu", major(device.st_dev), minor(device.st_dev),
                  static_cast<unsigned long long>(device.st_ino));
    size_t at = 0;
    while (at < locks.size()) {
        size_t end = locks.find('\n', at);
        if (end == std::string::npos)
            end = locks.size();
        char kind[16] = {}, mode[16] = {}, access[16] = {}, id[64] = {};
        unsigned long pid = 0;
        const std::string line = locks.substr(at, end - at);
        at = end + 1;
        if (std::sscanf(line.c_str(), "%*[^:]: %15s %15s %15s %lu %63s", kind, mode, access, &pid,
                        id) == 5 &&
            !std::strcmp(kind, "FLOCK") && !std::strcmp(id, want) && std::to_string(pid) != self)
            return ProcessName(std::to_string(pid));
    }
    return {};
}
}  // namespace

std::string DeviceHolder(const std::string& path) {
    struct stat device {};
    if (stat(path.c_str(), &device) != 0 || !S_ISCHR(device.st_mode))
        return {};
    // The lock's owner first: others may keep the device open without holding it (a
    // simulator keeps its line's slave open).
    const std::string self = std::to_string(getpid());
    if (std::string holder = LockHolder(device, self); !holder.empty())
        return holder;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return {};
    std::string found;
    // Bounded, so that a machine with a huge process table cannot hold up a failed open.
    int processes = 0;
    for (dirent* p; found.empty() && processes < 65536 && (p = readdir(proc)) != nullptr;) {
        if (!std::isdigit(static_cast<unsigned char>(p->d_name[0])) || p->d_name == self)
            continue;
        ++processes;
        const std::string dir = std::string("/proc/") + p->d_name;
        DIR* fds = opendir((dir + "/fd").c_str());
        if (fds == nullptr)
            continue;  // gone, or not ours to look at
        int n = 0;
        for (dirent* f; n < 65536 && (f = readdir(fds)) != nullptr; ++n) {
            struct stat st {};
            if (f->d_name[0] == '.' || stat((dir + "/fd/" + f->d_name).c_str(), &st) != 0)
                continue;
            if (S_ISCHR(st.st_mode) && st.st_rdev == device.st_rdev) {
                found = ProcessName(p->d_name);
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return found;
}

bool SerialDevice::FailOpen(OpenError error, int sysErrno, int fd) {
    openFailure_ = {error, sysErrno, {}};
    if (fd >= 0)
        close(fd);
    return false;
}

bool SerialDevice::Open(const std::string& name) {
    Close();
    openFailure_ = {};
    int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        const OpenError why = e == ENOENT || e == ENOTDIR || e == ENXIO || e == ENODEV
                                  ? OpenError::NotFound
                              : e == EACCES || e == EPERM ? OpenError::Denied
                              : e == EBUSY                ? OpenError::Busy
                              : e == ENAMETOOLONG         ? OpenError::NameTooLong
                                                          : OpenError::Other;
        FailOpen(why, e, -1);
        if (why == OpenError::Busy)
            openFailure_.holder = DeviceHolder(name);
        return false;
    }
    if (!isatty(fd))
        return FailOpen(OpenError::NotATerminal, ENOTTY, fd);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        FailOpen(e == EWOULDBLOCK ? OpenError::Busy : OpenError::Other,
                 e == EWOULDBLOCK ? EBUSY : e, fd);
        if (e == EWOULDBLOCK)
            openFailure_.holder = DeviceHolder(name);
        return false;
    }
    if (ioctl(fd, TIOCEXCL) != 0 || !termios_io::MakeRaw(fd))
        return FailOpen(OpenError::Other, errno, fd);
    {
        std::lock_guard lock(mutex_);
        timeouts_ = SerialTimeouts{};
        haveCounts_ = termios_io::ReadCounts(fd, lastCounts_);
    }
    pendingErrors_ = 0;
    gone_ = false;
    fd_ = fd;
    return true;
}

void SerialDevice::Close() {
    int fd = fd_.exchange(-1);
    if (fd < 0)
        return;
    // Release exclusive use and the lock first, so that any user can open the device after us.
    (void)ioctl(fd, TIOCNXCL);
    (void)flock(fd, LOCK_UN);
    close(fd);
}

bool SerialDevice::SetSettings(const SerialSettings& settings) {
    int fd = Fd();
    return fd >= 0 && termios_io::Apply(fd, settings);
}

bool SerialDevice::GetTimeouts(SerialTimeouts& timeouts) const {
    if (Fd() < 0)
        return false;
    std::lock_guard lock(mutex_);
    timeouts = timeouts_;
    return true;
}

bool SerialDevice::SetTimeouts(const SerialTimeouts& timeouts) {
    if (Fd() < 0)
        return false;
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return true;
}

bool SerialDevice::SetupQueues(uint32_t inSize, uint32_t outSize) {
    if (Fd() < 0)
        return false;
    inQueue_ = inSize;
    outQueue_ = outSize;
    return true;
}

bool SerialDevice::Purge(uint32_t flags) {
    int fd = Fd();
    if (fd < 0)
        return false;
    if (flags & kPurgeRxAbort) {
        ++readGen_;
        Wake(readWake_);
    }
    if (flags & kPurgeTxAbort) {
        ++writeGen_;
        Wake(writeWake_);
    }
    bool ok = true;
    if (flags & kPurgeRxClear)
        ok = termios_io::Flush(fd, true, false) && ok;
    if (flags & kPurgeTxClear)
        ok = termios_io::Flush(fd, false, true) && ok;
    return ok;
}

void SerialDevice::MarkGone() {
    pendingErrors_ |= kErrIo;
    gone_ = true;
}

uint32_t LineErrorBits(const LineErrorCounts& before, const LineErrorCounts& after) {
    // A counter that moved at all, wrapped or not, saw its fault.
    uint32_t bits = 0;
    if (after.overrun != before.overrun)
        bits |= kErrOverrun;
    if (after.bufferOverrun != before.bufferOverrun)
        bits |= kErrRxOver;
    if (after.parity != before.parity)
        bits |= kErrParity;
    if (after.frame != before.frame)
        bits |= kErrFrame;
    if (after.brk != before.brk)
        bits |= kErrBreak;
    return bits;
}

uint32_t SerialDevice::PollLineErrors() {
    int fd = Fd();
    if (fd < 0)
        return 0;
    LineErrorCounts counts;
    std::lock_guard lock(mutex_);
    if (!haveCounts_ || !termios_io::ReadCounts(fd, counts))
        return 0;
    const uint32_t bits = LineErrorBits(lastCounts_, counts);
    lastCounts_ = counts;
    if (bits)
        pendingErrors_ |= bits;
    return bits;
}

uint32_t SerialDevice::ClearErrors() {
    PollLineErrors();
    return pendingErrors_.exchange(0);
}

bool SerialDevice::SetEventMask(uint32_t mask) {
    if (Fd() < 0)
        return false;
    eventMask_ = mask;
    ++maskGen_;
    Wake(maskWake_);
    return true;
}

std::optional<TransferStatus> SerialDevice::AwaitDevice(int fd, short events, int abortFd,
                                                        int wakeFd,
                                                        const std::atomic<uint64_t>& purgeGen,
                                                        uint64_t gen, int waitMs,
                                                        bool hangupFails) {
    pollfd p[3] = {{fd, events, 0}, {abortFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (poll(p, 3, waitMs) < 0 && errno != EINTR) {
        MarkGone();
        return TransferStatus::Failed;
    }
    if (abortFd >= 0 && (p[1].revents & POLLIN))
        return TransferStatus::Aborted;
    if (p[2].revents & POLLIN) {
        Drain(wakeFd);
        if (purgeGen.load() != gen)
            return TransferStatus::Failed;  // purged: no line error of its own
    }
    const short gone = static_cast<short>(POLLERR | POLLNVAL | (hangupFails ? POLLHUP : 0));
    if (p[0].revents & gone) {
        MarkGone();
        return TransferStatus::Failed;
    }
    return std::nullopt;
}

TransferStatus SerialDevice::Read(void* buf, uint32_t n, uint32_t& got, int abortFd) {
    got = 0;
    const int fd = Fd();
    SerialTimeouts to;
    if (fd < 0 || !GetTimeouts(to))
        return TransferStatus::Failed;
    auto* out = static_cast<unsigned char*>(buf);
    const bool immediate =
        to.readInterval == kMaxTimeout && to.readMultiplier == 0 && to.readConstant == 0;
    const bool totalLimited =
        !immediate && to.readConstant != kMaxTimeout && (to.readMultiplier || to.readConstant);
    const Deadline total =
        Deadline::ForTransfer(totalLimited, to.readMultiplier, n, to.readConstant);
    const bool intervalLimited =
        !immediate && to.readInterval != 0 && to.readInterval != kMaxTimeout;
    uint64_t lastByte = 0;
    Drain(readWake_);
    const uint64_t gen = readGen_.load();

    while (got < n) {
        ssize_t r = read(fd, out + got, n - got);
        if (r > 0) {
            got += static_cast<uint32_t>(r);
            lastByte = TickMs();
            continue;
        }
        if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) {
            // End of file or EIO on a terminal: the device or its other side is gone.
            MarkGone();
            return TransferStatus::Failed;
        }
        if (immediate)
            return TransferStatus::Done;
        const int wait = intervalLimited && got > 0
                             ? total.Earlier(Deadline::At(lastByte, to.readInterval)).RemainingMs()
                             : total.RemainingMs();
        if (wait == 0)
            return TransferStatus::Done;
        // A hang-up may leave data buffered: the read above drains it, then reports EIO.
        if (auto end = AwaitDevice(fd, POLLIN, abortFd, readWake_, readGen_, gen, wait, false))
            return *end;
    }
    return TransferStatus::Done;
}

TransferStatus SerialDevice::Write(const void* buf, uint32_t n, uint32_t& put, int abortFd) {
    put = 0;
    const int fd = Fd();
    SerialTimeouts to;
    if (fd < 0 || !GetTimeouts(to))
        return TransferStatus::Failed;
    const auto* in = static_cast<const unsigned char*>(buf);
    const bool limited = to.writeMultiplier || to.writeConstant;
    const Deadline deadline =
        Deadline::ForTransfer(limited, to.writeMultiplier, n, to.writeConstant);
    Drain(writeWake_);
    const uint64_t gen = writeGen_.load();

    while (put < n) {
        ssize_t r = write(fd, in + put, n - put);
        if (r > 0) {
            put += static_cast<uint32_t>(r);
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EINTR) {
            MarkGone();
            return TransferStatus::Failed;
        }
        const int wait = deadline.RemainingMs();
        if (wait == 0)
            return TransferStatus::Done;  // write time-out: partial count
        if (auto end = AwaitDevice(fd, POLLOUT, abortFd, writeWake_, writeGen_, gen, wait, true))
            return *end;
    }
    return TransferStatus::Done;
}

uint32_t SerialDevice::ReadNow(void* buf, uint32_t n) {
    const int fd = Fd();
    uint32_t got = 0;
    while (fd >= 0 && got < n) {
        const ssize_t r = read(fd, static_cast<unsigned char*>(buf) + got, n - got);
        if (r > 0)
            got += static_cast<uint32_t>(r);
        else if (!(r < 0 && errno == EINTR))
            break;
    }
    return got;
}

uint32_t SerialDevice::WriteNow(const void* buf, uint32_t n) {
    const int fd = Fd();
    uint32_t put = 0;
    while (fd >= 0 && put < n) {
        const ssize_t r = write(fd, static_cast<const unsigned char*>(buf) + put, n - put);
        if (r > 0)
            put += static_cast<uint32_t>(r);
        else if (!(r < 0 && errno == EINTR))
            break;
    }
    return put;
}

TransferStatus SerialDevice::WaitEvent(uint32_t& events, int abortFd) {
    events = 0;
    int fd = Fd();
    if (fd < 0)
        return TransferStatus::Failed;
    Drain(maskWake_);
    const uint64_t gen = maskGen_.load();
    for (;;) {
        const uint32_t mask = eventMask_.load();
        if (maskGen_.load() != gen)
            return TransferStatus::Done;  // mask changed: events 0
        if (mask & kEvErr) {
            if (PollLineErrors()) {
                events = kEvErr;
                return TransferStatus::Done;
            }
        }
        pollfd p[3] = {{fd, static_cast<short>((mask & kEvRxChar) ? POLLIN : 0), 0},
                       {abortFd, POLLIN, 0},
                       {maskWake_, POLLIN, 0}};
        // Line errors have no descriptor to wait on: look at the counters every 50 ms.
        int pr = poll(p, 3, (mask & kEvErr) ? 50 : -1);
        if (pr < 0 && errno != EINTR)
            return TransferStatus::Failed;
        if (abortFd >= 0 && (p[1].revents & POLLIN))
            return TransferStatus::Aborted;
        if (p[2].revents & POLLIN) {
            Drain(maskWake_);
            if (maskGen_.load() != gen)
                return TransferStatus::Done;
        }
        if (p[0].revents & POLLIN) {
            events = kEvRxChar;
            return TransferStatus::Done;
        }
        if (p[0].revents & (POLLERR | POLLNVAL | POLLHUP)) {
            MarkGone();
            return TransferStatus::Failed;
        }
    }
}

}  // namespace platform
