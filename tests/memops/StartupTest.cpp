#include "memops/Startup.h"

#include <gtest/gtest.h>

#include "memops/MemoryKinds.h"
#include "support/PtyLine.h"
#include "support/TempDir.h"

using namespace memops;

using namespace zimp;

using namespace serial;

using namespace streams;

TEST(Startup, ReadsPortKeysInPrefixedNotation) {
    TempDir dir;
    struct Case {
        const char* factor;
        unsigned long want;
    } cases[] = {{"0x4", 4}, {"010", 8}, {"abc", 1}};
    for (const auto& c : cases) {
        auto ini = dir.Write("ZIMPProtocol.ini",
                             std::string("[configuration]\nPort=/dev/ttyX\nBaudrate=115200\n"
                                         "BaudrateFactor=") +
                                 c.factor + "\nDebugLevel=-1\n");
        profilestream ps(ini);
        StartupSettings s = ReadStartupSettings(ps);
        EXPECT_EQ(s.factor, c.want) << c.factor;
        EXPECT_EQ(s.baudrate, 115200);
        EXPECT_EQ(s.port, "/dev/ttyX");
        EXPECT_EQ(s.debugLevel, -1) << "any non-zero level opens the log";
    }
}

TEST(Startup, LongPortNameIsCutTo79AndMissingKeysKeepDefaults) {
    // Port names are read whole up to the path limit; one over it reaches the port, which
    // refuses it rather than open a name cut short.
    TempDir dir;
    for (size_t length : {size_t(100), SerialPort::kMaxPortName, SerialPort::kMaxPortName + 5}) {
        auto ini = dir.Write("ZIMPProtocol.ini",
                             "[configuration]\nPort=" + std::string(length, 'p') + "\n");
        profilestream ps(ini);
        EXPECT_EQ(ReadStartupSettings(ps).port.size(),
                  std::min(length, SerialPort::kMaxPortName + 1));
    }
    auto ini = dir.Write("ZIMPProtocol.ini", "[configuration]\n");
    profilestream ps(ini);
    StartupSettings s = ReadStartupSettings(ps);
    EXPECT_EQ(s.port, "");
    EXPECT_EQ(s.baudrate, 0);
    EXPECT_EQ(s.factor, 1u);
    EXPECT_EQ(s.debugLevel, 0);
    SerialPort port;
    EXPECT_FALSE(OpenConfiguredPort(port, s)) << "rate 0 leaves the port closed";
    EXPECT_FALSE(port.IsOpen());
}

TEST(Startup, WriteResponseTimeoutInSecondsBoundsWritesAndErasesAlike) {
    TempDir dir;
    struct Case {
        const char* line;
        uint32_t writeMs, eraseMs;
    } cases[] = {
        {"", 60000, 600000},  // missing: the defaults
        {"WriteResponseTimeout=5\n", 5000, 5000},
        {"WriteResponseTimeout=0x10\n", 16000, 16000},
        {"WriteResponseTimeout=86400\n", 86400000, 86400000},
        {"WriteResponseTimeout=0\n", 60000, 600000},
        {"WriteResponseTimeout=86401\n", 60000, 600000},
        {"WriteResponseTimeout=-3\n", 60000, 600000},
        {"WriteResponseTimeout=soon\n", 60000, 600000},
    };
    for (const auto& c : cases) {
        auto ini = dir.Write("ZIMPProtocol.ini", std::string("[configuration]\n") + c.line);
        profilestream ps(ini);
        ZimpEngine engine;
        engine.SetWriteResponseTimeouts(1, 2);  // whatever an earlier operation left
        ApplyWriteResponseTimeout(ps, engine);
        EXPECT_EQ(engine.WriteResponseTimeout(), c.writeMs) << c.line;
        EXPECT_EQ(engine.EraseResponseTimeout(), c.eraseMs) << c.line;
    }
}

TEST(Startup, OpensConfiguredPortWithItsFactor) {
    PtyLine line;
    StartupSettings s;
    s.port = line.SlavePath();
    s.baudrate = 115200;
    s.factor = 4;
    SerialPort port;
    ASSERT_TRUE(OpenConfiguredPort(port, s));
    EXPECT_EQ(port.StoredRate(), 28800u);
}

TEST(Startup, ConfigurationIsFoundInWorkingThenProgramDirectory) {
    TempDir work, prog;
    platform::FileLocator loc(work.path(), prog.path());
    EXPECT_EQ(LocateConfiguration(loc), "");
    prog.Write("ZIMPProtocol.ini", "");
    EXPECT_EQ(LocateConfiguration(loc), prog.File("ZIMPProtocol.ini"));
    work.Write("ZIMPProtocol.ini", "");
    EXPECT_EQ(LocateConfiguration(loc), work.File("ZIMPProtocol.ini"));
}

TEST(MemoryKinds, NamesCodesAndWireAddresses) {
    EXPECT_EQ(MemoryTypeByName("int-eeprom"), 2);
    EXPECT_FALSE(MemoryTypeByName("eeprom"));
    EXPECT_EQ(MemoryKindOf(4).saveSection, std::string("SaveFlash"));
    EXPECT_EQ(WireAddress(0x1000, MemoryKindOf(0).code), 0x801000u);
    EXPECT_EQ(WireAddress(0x1000, MemoryKindOf(1).code), 0x401000u);
    EXPECT_EQ(WireAddress(0x1000, MemoryKindOf(3).code), 0x001000u);
}
