#pragma once
// The termios calls of the serial device, kept in one file: they use the kernel's termios2
// (any rate through BOTHER), whose header cannot be mixed with the C library's <termios.h>.

#include <linux/serial.h>

#include <cstdint>

#include "platform/SerialDevice.h"
#include "platform/SerialSettings.h"

namespace platform::termios_io {

// Raw mode: no echo, no line discipline, no translation, reads return what is there.
bool MakeRaw(int fd);
bool Apply(int fd, const SerialSettings& settings);
bool Flush(int fd, bool input, bool output);
// The error counters of one TIOCGICOUNT reading, each to its own field.
LineErrorCounts CountsOf(const serial_icounter_struct& c);
// false where the device keeps none (a pseudo-terminal).
bool ReadCounts(int fd, LineErrorCounts& counts);

}  // namespace platform::termios_io
