#include "station/PortPattern.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/TempDir.h"

namespace {

// dev/ holds the "devices"; by-id/ links to them, as udev makes /dev/serial/by-id.
class PortPatternTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(dir.File("dev").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(dir.File("by-id").c_str(), 0755), 0);
        for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyUSB10", "ttyACM0", "console"})
            dir.Write(std::string("dev/") + name, "");
        Link("../dev/ttyUSB0", "by-id/usb-FTDI_A-if00");         // relative, as udev makes them
        Link(dir.File("dev/ttyUSB0"), "by-id/usb-FTDI_B-if00");  // a second name for ttyUSB0
        Link(dir.File("dev/ttyUSB1"), "by-id/usb-Prolific_C");
        Link("../dev/unplugged", "by-id/usb-Gone");  // dangling
        Link("ttyUSB1", "dev/radio");                // an alias outside by-id
    }
    void Link(const std::string& target, const std::string& name) {
        ASSERT_EQ(symlink(target.c_str(), dir.File(name).c_str()), 0) << name;
    }
    TempDir dir;
};

}  // namespace

TEST_F(PortPatternTest, PatternsExpandToTheSortedExistingPaths) {
    struct Case {
        std::string pattern;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"dev/ttyUSB*", {"ttyUSB0", "ttyUSB1", "ttyUSB10"}},
        {"dev/tty[AU]*0", {"ttyACM0", "ttyUSB0", "ttyUSB10"}},
        {"dev/ttyUSB?", {"ttyUSB0", "ttyUSB1"}},
        {"dev/r*", {"radio"}},
        {"dev/ttyACM0", {"ttyACM0"}},
        {"dev/ttyS*", {}},
        {"dev/ttyS0", {}},  // a plain name that does not exist is not passed through
    };
    for (const Case& c : cases) {
        std::vector<std::string> expected;
        for (const std::string& name : c.names)
            expected.push_back(dir.File("dev/" + name));
        EXPECT_EQ(station::ExpandPortPattern(dir.File(c.pattern)), expected) << c.pattern;
    }
}

TEST_F(PortPatternTest, ByIdNameOfAPort) {
    struct Case {
        std::string port;
        std::string name;
    };
    const Case cases[] = {
        {"dev/ttyUSB0", "usb-FTDI_A-if00"},  // the first of its two names
        {"dev/ttyUSB1", "usb-Prolific_C"},
        {"dev/radio", "usb-Prolific_C"},               // through a link of its own
        {"by-id/usb-FTDI_B-if00", "usb-FTDI_B-if00"},  // its own name, not the first
        {"by-id/../by-id/usb-Prolific_C", "usb-Prolific_C"},
        {"dev/ttyACM0", ""},
        {"dev/missing", ""},
        {"by-id/usb-Gone", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(station::ByIdName(dir.File(c.port), dir.File("by-id")), c.name) << c.port;
    EXPECT_EQ(station::ByIdName(dir.File("dev/ttyUSB0"), dir.File("no-by-id")), "");
}
