#include "memops/Startup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "memops/MemoryKinds.h"
#include "support/PtyLine.h"
#include "support/TempDir.h"
#include "zimp/ZimpTestSupport.h"

using namespace memops;

using ::testing::ElementsAre;

using namespace zimp;

using namespace serial;

using namespace streams;

// The port keys take one plain number in the prefixed notation; a value that is no number,
// or whose leading 0 would read it as octal, is reported and leaves the port closed.
TEST(Startup, PortKeysTakePlainNumbersAndReportTheRest) {
    TempDir dir;
    const std::string octal = " (a leading 0 means octal).";
    struct Case {
        const char* key;
        const char* value;
        long baudrate;
        unsigned long factor;
        std::string message;  // after "The value "V" of KEY in section [configuration] "
    } cases[] = {
        {"BaudrateFactor", "0x4", 115200, 4, ""},
        {"BaudrateFactor", "07", 115200, 7, ""},
        {"BaudrateFactor", "010", 115200, 1, "is not a number from 1 to 1024" + octal},
        {"BaudrateFactor", "abc", 115200, 1, "is not a number from 1 to 1024."},
        {"Baudrate", "09600", 0, 1, "is not a number from 60 to 10000000" + octal},
        {"Baudrate", "0115200", 0, 1, "is not a number from 60 to 10000000" + octal},
        {"Baudrate", "-0115200", 0, 1, "is not a number from 60 to 10000000" + octal},
        {"Baudrate", "abc", 0, 1, "is not a number from 60 to 10000000."},
        {"Baudrate", "0x1C200", 115200, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        std::string text = "[configuration]\nPort=/dev/ttyX\nDebugLevel=-1\n";
        if (std::string(c.key) != "Baudrate")
            text += "Baudrate=115200\n";
        auto ini = dir.Write("ZIMPProtocol.ini", text + c.key + "=" + c.value + "\n");
        zimptest::MessageCapture boxes;
        Configuration ps(ini);
        StartupSettings s = ReadStartupSettings(ps);
        EXPECT_EQ(s.factor, c.factor);
        EXPECT_EQ(s.baudrate, c.baudrate);
        EXPECT_EQ(s.port, "/dev/ttyX");
        EXPECT_EQ(s.debugLevel, -1) << "any non-zero level opens the log";
        EXPECT_EQ(s.valid, c.message.empty());
        if (c.message.empty())
            EXPECT_TRUE(boxes.Texts().empty());
        else
            EXPECT_THAT(boxes.Texts(),
                        ElementsAre(std::string("The value \"") + c.value + "\" of " + c.key +
                                    " in section [configuration] " + c.message));
    }
}

// A missing BlockSize is the documented default; one present is taken or reported as the port
// keys are, and so is Echo, which may be any number.
TEST(Startup, BlockSizeAndEchoDefaultsAndRefusals) {
    TempDir dir;
    struct Case {
        const char* line;
        std::optional<unsigned long> blockSize;
        std::optional<bool> echo;
        const char* message;
    } cases[] = {
        {"", 1024, false, nullptr},
        {"BlockSize=0\n", 0, false, nullptr},
        {"BlockSize=0x100\nEcho=-1\n", 256, true, nullptr},
        {"BlockSize=abc\n", std::nullopt, false,
         "The value \"abc\" of BlockSize in section [LoadMemory] is not a number from 0 to 8192."},
        {"BlockSize=0100\n", std::nullopt, false,
         "The value \"0100\" of BlockSize in section [LoadMemory] is not a number from 0 to 8192 "
         "(a leading 0 means octal)."},
        {"Echo=yes\n", 1024, std::nullopt,
         "The value \"yes\" of Echo in section [configuration] is not a number."},
        {"Echo=01\n", 1024, true, nullptr},
        {"Echo=010\n", 1024, std::nullopt,
         "The value \"010\" of Echo in section [configuration] is not a number (a leading 0 "
         "means octal)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string text = c.line;
        const size_t echo = text.find("Echo=");
        if (echo != std::string::npos)
            text = text.substr(0, echo) + "[configuration]\n" + text.substr(echo);
        auto ini = dir.Write("ZIMPProtocol.ini", "[LoadMemory]\n" + text);
        zimptest::MessageCapture boxes;
        Configuration ps(ini);
        EXPECT_EQ(ConfiguredBlockSize(ps), c.blockSize);
        EXPECT_EQ(ReadEcho(ps), c.echo);
        if (c.message)
            EXPECT_THAT(boxes.Texts(), ElementsAre(c.message));
        else
            EXPECT_TRUE(boxes.Texts().empty());
        EXPECT_EQ(ps.Refused(), c.message ? 1 : 0);
    }
}

TEST(Startup, LongPortNameIsCutTo79AndMissingKeysKeepDefaults) {
    // Port names are read whole up to the path limit; one over it reaches the port, which
    // refuses it rather than open a name cut short.
    TempDir dir;
    for (size_t length : {size_t(100), SerialPort::kMaxPortName, SerialPort::kMaxPortName + 5}) {
        auto ini = dir.Write("ZIMPProtocol.ini",
                             "[configuration]\nPort=" + std::string(length, 'p') + "\n");
        Configuration ps(ini);
        EXPECT_EQ(ReadStartupSettings(ps).port.size(),
                  std::min(length, SerialPort::kMaxPortName + 1));
    }
    auto ini = dir.Write("ZIMPProtocol.ini", "[configuration]\n");
    Configuration ps(ini);
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
        Configuration ps(ini);
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
    EXPECT_EQ(MemoryByName("int-eeprom"), Memory::InternalEeprom);
    EXPECT_FALSE(MemoryByName("eeprom")) << "no silent fallback to RAM";
    EXPECT_FALSE(MemoryByName(""));
    EXPECT_EQ(MemoryOfType(3), Memory::ExternalEeprom);
    EXPECT_FALSE(MemoryOfType(5));
    EXPECT_FALSE(MemoryOfType(-1));
    EXPECT_EQ(MemoryKindOf(Memory::Pelk).saveSection, std::string("SaveFlash"));
    EXPECT_EQ(WireAddress(0x1000, MemoryKindOf(Memory::Ram).code), 0x801000u);
    EXPECT_EQ(WireAddress(0x1000, MemoryKindOf(Memory::Flash).code), 0x401000u);
    EXPECT_EQ(WireAddress(0x1000, MemoryKindOf(Memory::ExternalEeprom).code), 0x001000u);
    // Each memory's own texts, in the menus' order.
    for (int type = 0; type < kMemoryKindCount; ++type) {
        const MemoryKind& k = MemoryKindOf(*MemoryOfType(type));
        EXPECT_EQ(k.type, type);
        EXPECT_EQ(MemoryByName(k.cliName), k.memory);
    }
}
