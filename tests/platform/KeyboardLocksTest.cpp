#include "platform/KeyboardLocks.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

namespace {
void Led(const TempDir& dir, const std::string& name, const char* brightness) {
    std::filesystem::create_directories(dir.File(name));
    dir.Write(name + "/brightness", brightness);
}
}  // namespace

TEST(KeyboardLocks, AnyKeyboardsLedOnLightsTheKey) {
    TempDir dir;
    Led(dir, "input3::capslock", "0\n");
    Led(dir, "input7::capslock", "1\n");
    Led(dir, "input3::numlock", "0\n");
    Led(dir, "input3::scrolllockx", "1\n");  // not a scroll-lock LED
    Led(dir, "phy0-led", "1\n");
    using platform::LockKey;
    EXPECT_EQ(platform::LockKeyState(LockKey::Caps, dir.path()), std::optional<bool>(true));
    EXPECT_EQ(platform::LockKeyState(LockKey::Num, dir.path()), std::optional<bool>(false));
    EXPECT_EQ(platform::LockKeyState(LockKey::Scroll, dir.path()), std::nullopt);
    EXPECT_EQ(platform::LockKeyState(LockKey::Caps, dir.File("missing")), std::nullopt);
}
