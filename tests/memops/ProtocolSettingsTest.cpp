#include "memops/ProtocolSettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MemopsTestSupport.h"

using namespace memops;
using namespace streams;
using namespace memopstest;
using ::testing::ElementsAre;

TEST(ProtocolSettings, PrefixedBlockSizeIsReadAndWrittenBackDecimal) {
    TempDir dir;
    const std::string ini = dir.Write("z.ini",
                                      "; kept\n[configuration]\nEcho=1\nPort=x\n"
                                      "[LoadMemory]\nBlockSize=0x100\n");
    Configuration profile(ini);
    ProtocolSettings s;
    ReadProtocolSettings(profile, s);
    EXPECT_EQ(s.blockSize, 256u);
    EXPECT_EQ(s.echo, 1);
    WriteProtocolSettings(profile, s);
    EXPECT_EQ(dir.Read("z.ini"),
              "; kept\n[configuration]\nEcho=1\nPort=x\n[LoadMemory]\nBlockSize=256\n");
}

TEST(ProtocolSettings, MissingKeysKeepThePreviousValues) {
    TempDir dir;
    Configuration profile(dir.Write("z.ini", "[configuration]\nPort=x\n"));
    ProtocolSettings s{1024, 1};
    ReadProtocolSettings(profile, s);
    EXPECT_EQ(s.blockSize, 1024u);
    EXPECT_EQ(s.echo, 1);
}

TEST(ProtocolSettings, RefusedBlockSizeLeavesTheSettings) {
    zimptest::MessageCapture boxes;
    ProtocolSettings s{64, 0};
    EXPECT_EQ(CheckProtocolSettings("16", true, s), ProtocolField::BlockSize);
    EXPECT_EQ(s.blockSize, 64u);
    EXPECT_EQ(s.echo, 0);
    EXPECT_EQ(CheckProtocolSettings(" 8192 ", true, s), ProtocolField::None);
    EXPECT_EQ(s.blockSize, 8192u);
    EXPECT_EQ(s.echo, 1);
    EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter an integer between 32 and 8192."));
}
