#include "platform/TermiosIo.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace platform::termios_io {
namespace {

bool Get(int fd, termios2& t) {
    return ioctl(fd, TCGETS2, &t) == 0;
}
bool Set(int fd, const termios2& t) {
    return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace

bool MakeRaw(int fd) {
    termios2 t{};
    if (!Get(fd, t))
        return false;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | HUPCL);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;  // with O_NONBLOCK: no data is EAGAIN, and 0 means hung up
    t.c_cc[VTIME] = 0;
    return Set(fd, t);
}

bool Apply(int fd, const SerialSettings& s) {
    if (s.baudRate == 0 || s.dataBits < 5 || s.dataBits > 8)
        return false;
    termios2 t{};
    if (!Get(fd, t))
        return false;
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CBAUD);
    t.c_cflag |= CREAD | CLOCAL | BOTHER;
    switch (s.dataBits) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        default:
            t.c_cflag |= CS8;
            break;
    }
    if (s.stopBits != StopBits::One)
        t.c_cflag |= CSTOPB;
    switch (s.parity) {
        case Parity::None:
            break;
        case Parity::Odd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case Parity::Even:
            t.c_cflag |= PARENB;
            break;
        case Parity::Mark:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case Parity::Space:
            t.c_cflag |= PARENB | CMSPAR;
            break;
    }
    if (s.ctsOutputFlow || s.rtsControl == LineControl::Handshake)
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | INPCK | IGNPAR | ISTRIP);
    if (s.xonXoffOutput)
        t.c_iflag |= IXON;
    if (s.xonXoffInput)
        t.c_iflag |= IXOFF;
    if (s.parityCheck)
        t.c_iflag |= INPCK;
    t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
    t.c_ispeed = s.baudRate;
    t.c_ospeed = s.baudRate;
    return Set(fd, t);
}

bool Flush(int fd, bool input, bool output) {
    int what = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return ioctl(fd, TCFLSH, what) == 0;
}

LineErrorCounts CountsOf(const serial_icounter_struct& c) {
    LineErrorCounts counts;
    counts.overrun = static_cast<uint32_t>(c.overrun);
    counts.bufferOverrun = static_cast<uint32_t>(c.buf_overrun);
    counts.parity = static_cast<uint32_t>(c.parity);
    counts.frame = static_cast<uint32_t>(c.frame);
    counts.brk = static_cast<uint32_t>(c.brk);
    return counts;
}

bool ReadCounts(int fd, LineErrorCounts& counts) {
    serial_icounter_struct c{};
    if (ioctl(fd, TIOCGICOUNT, &c) != 0)
        return false;
    counts = CountsOf(c);
    return true;
}

}  // namespace platform::termios_io
