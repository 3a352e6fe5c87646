// Hostile bytes at the simulated radio: its line, with silences in between, and its preload
// file reader.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "sim/radio/ZimpRadio.h"
#include "zimp/ZimpFrame.h"

namespace {
class NullLine : public radio::RadioLine {
  public:
    void Send(const uint8_t* bytes, size_t n) override {
        if (n == 0 || bytes == nullptr)
            __builtin_trap();
        sent += n;
    }
    size_t sent = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    radio::ZimpRadioOptions options;
    options.echo = data[0] & 1;
    options.idleMs = 10;
    if (data[0] & 2)
        options.badWriteAt = 0x800010;
    options.shortRead = data[0] & 4;
    radio::ZimpRadio radio(options);
    NullLine line;
    // The byte 0x00 after a 0x00 marks a silence: the radio must resynchronise.
    uint64_t now = 0;
    size_t from = 1;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0 && i + 1 < size && data[i + 1] == 0) {
            radio.Receive(data + from, i - from, now, line);
            now += 100;
            radio.Idle(now);
            from = i + 2;
            ++i;
        }
    }
    if (from < size)
        radio.Receive(data + from, size - from, now, line);

    // Whatever came before, a good request is answered after a silence.
    radio.Idle(now + 100);
    const uint8_t status[3] = {0xF1, 0x14, 0xFA};
    const size_t before = line.sent;
    radio.Receive(status, sizeof status, now + 200, line);
    if (line.sent == before)
        __builtin_trap();

    // A preload the radio takes comes back in its dump, and the dump loads again.
    std::string error;
    if (radio.LoadJson(std::string(reinterpret_cast<const char*>(data), size), error)) {
        std::ostringstream dump;
        radio.WriteDump(dump);
        radio::ZimpRadio again;
        if (!again.LoadJson(dump.str(), error))
            __builtin_trap();
    }
    return 0;
}
