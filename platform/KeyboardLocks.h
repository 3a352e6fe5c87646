#pragma once
// The keyboard's lock keys (Caps, Num, Scroll) as Linux reports them: the input LEDs under
// /sys/class/leds ("input3::capslock" and the like).

#include <optional>
#include <string>

namespace platform {

enum class LockKey { Caps, Num, Scroll };

// On when any keyboard's LED for the key is on; nothing when no keyboard reports the key.
// ledsDir is for tests.
std::optional<bool> LockKeyState(LockKey key, const std::string& ledsDir = "/sys/class/leds");

}  // namespace platform
