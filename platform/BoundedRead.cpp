#include "platform/BoundedRead.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

ReadStatus ReadBounded(int fd, size_t limit, std::string& out) {
    out.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ReadStatus::Unreadable;
        if (n == 0)
            return ReadStatus::Ok;
        if (out.size() + static_cast<size_t>(n) > limit) {
            out.clear();
            out.shrink_to_fit();
            return ReadStatus::TooLarge;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

ReadStatus ReadFileBounded(const std::string& path, size_t limit, std::string& out) {
    out.clear();
    // Opened without blocking, so that a named pipe without a writer reads as empty instead
    // of hanging the open.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    ReadStatus status = ReadBounded(fd, limit, out);
    int saved = errno;
    close(fd);
    errno = saved;
    return status;
}

}  // namespace platform
