#include "platform/KeyboardLocks.h"

#include <filesystem>
#include <fstream>

namespace platform {

std::optional<bool> LockKeyState(LockKey key, const std::string& ledsDir) {
    const char* suffix = key == LockKey::Caps  ? "::capslock"
                         : key == LockKey::Num ? "::numlock"
                                               : "::scrolllock";
    const std::string end(suffix);
    std::error_code ec;
    std::filesystem::directory_iterator it(ledsDir, ec), last;
    std::optional<bool> state;
    // Bounded: a machine has a handful of LEDs, a hostile directory gets no more than this.
    for (int seen = 0; !ec && it != last && seen < 1024; it.increment(ec), ++seen) {
        const std::string name = it->path().filename().string();
        if (name.size() < end.size() || name.compare(name.size() - end.size(), end.size(), end))
            continue;
        std::ifstream in(it->path() / "brightness");
        long brightness = 0;
        if (!(in >> brightness))
            continue;
        state = state.value_or(false) || brightness > 0;
    }
    return state;
}

}  // namespace platform
