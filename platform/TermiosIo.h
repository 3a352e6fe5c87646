#pragma once
// The termios calls of the serial device, kept in one file: they use the kernel's termios2
// (any rate through BOTHER), whose header cannot be mixed with the C library's <termios.h>.

#include <cstdint>

#include "platform/SerialSettings.h"

namespace platform::termios_io {

// Raw mode: no echo, no line discipline, no translation, reads return what is there.
bool MakeRaw(int fd);
bool Apply(int fd, const SerialSettings& settings);
bool Flush(int fd, bool input, bool output);
// Error counters: overrun, buffer overrun, parity, frame, break. false where the device keeps
// none (a pseudo-terminal).
bool ReadCounts(int fd, uint32_t counts[5]);

}  // namespace platform::termios_io
