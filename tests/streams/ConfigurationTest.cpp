#include "streams/Configuration.h"

#include <gtest/gtest.h>

#include <climits>

#include "streams/MessagePresenter.h"
#include "streams/MessageStreams.h"
#include "support/TempDir.h"

using namespace streams;

class ConfigurationTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string file = dir.Write("ZIMPProtocol.ini",
                                 "; settings\n[configuration]\nEcho=0\nBlockSize=64\n"
                                 "PatchFile=keep.s19\n[LoadMemory]\nBlockSize=0x2000\n");
};

TEST_F(ConfigurationTest, ValueIsStoredAtTheNextSelection) {
    Configuration ps(file);
    ps.clear();
    ps.SelectSection("configuration").SelectKey("Echo");
    ps << 1;
    EXPECT_NE(dir.Read("ZIMPProtocol.ini").find("Echo=0"), std::string::npos) << "still pending";
    ps.SelectKey("BlockSize");
    EXPECT_EQ(dir.Read("ZIMPProtocol.ini"),
              "; settings\n[configuration]\nEcho=1\nBlockSize=64\nPatchFile=keep.s19\n"
              "[LoadMemory]\nBlockSize=0x2000\n");
}

TEST_F(ConfigurationTest, EmptyValueIsNeverWritten) {
    Configuration ps(file);
    ps.SelectSection("configuration").SelectKey("PatchFile");
    ps << "";
    ps.SelectKey("Echo");
    ps << "" << '\n';
    EXPECT_NE(dir.Read("ZIMPProtocol.ini").find("PatchFile=keep.s19\n"), std::string::npos);
}

TEST_F(ConfigurationTest, ReadsValueAsLineAndIntegersInPrefixedNotation) {
    Configuration ps(file);
    ps.SelectSection("LoadMemory").SelectKey("BlockSize");
    unsigned long size = 0;
    EXPECT_TRUE(ps.ReadInteger(size));
    EXPECT_EQ(size, 0x2000u);
    for (auto [text, want] : {std::pair{"0x4", 4}, {"010", 8}, {" 12 ", 12}}) {
        ps.SelectSection("configuration").SelectKey("BaudrateFactor");
        ps << text << '\n';
        ps.clear();
        ps.SelectSection("configuration").SelectKey("BaudrateFactor");
        int factor = 1;
        EXPECT_TRUE(ps.ReadInteger(factor)) << text;
        EXPECT_EQ(factor, want) << text;
    }
}

TEST_F(ConfigurationTest, FailedIntegerExtractionKeepsTheVariable) {
    Configuration ps(file);
    ps.SelectSection("configuration").SelectKey("Missing");
    int v = 77;
    EXPECT_FALSE(ps.ReadInteger(v));
    EXPECT_EQ(v, 77);
    ps.SelectKey("PatchFile");
    ps << "abc\n";
    ps.clear();
    ps.SelectSection("configuration").SelectKey("PatchFile");
    EXPECT_FALSE(ps.ReadInteger(v));
    EXPECT_EQ(v, 77);
}

// A value is never cut to a limit unseen: the stream delivers it whole, and each reader either
// takes it at its limit or reports it past the limit with its key and leaves it unused.
TEST_F(ConfigurationTest, TextValuesAreTakenAtTheirLimitAndReportedPastIt) {
    RecordingPresenter boxes;
    SetMessagePresenter(&boxes);
    Configuration ps(file);
    auto store = [&](const std::string& key, const std::string& value) {
        ps.clear();
        ps.SelectSection("configuration").SelectKey(key);
        ps << value << '\n';
    };
    std::string longValue(300, 'a');
    longValue.back() = 'Z';
    store("LastData", longValue);
    ps.clear();
    ps.SelectSection("configuration").SelectKey("LastData");
    std::string line;
    std::getline(ps, line);
    EXPECT_EQ(line, longValue);

    struct Case {
        const char* key;
        size_t limit;
        bool fileName;
    };
    for (const Case& c :
         {Case{"Type", 2, false}, Case{"LastData", 255, false}, Case{"File", PATH_MAX - 1, true}}) {
        SCOPED_TRACE(c.key);
        auto read = [&] {
            return c.fileName ? ps.ReadFileName("configuration", c.key)
                              : ps.ReadText("configuration", c.key, c.limit);
        };
        std::string value(c.limit, 'v');
        value.back() = 'Z';
        store(c.key, value);
        EXPECT_EQ(read(), value);
        EXPECT_TRUE(boxes.Texts().empty());
        store(c.key, value + "1");
        EXPECT_EQ(read(), "");
        EXPECT_EQ(ps.Refused(), 0) << "the operation goes on without the value";
        ASSERT_EQ(boxes.Texts().size(), 1u);
        EXPECT_EQ(boxes.Texts()[0], std::string("The value of ") + c.key +
                                        " in section [configuration] is longer than " +
                                        std::to_string(c.limit) + " characters; it is not used.");
        boxes.Clear();
    }
    SetMessagePresenter(nullptr);
}

TEST_F(ConfigurationTest, MissingKeyReadsAsEmptyLineAndFirstByteFFAsEndOfData) {
    Configuration ps(file);
    ps.SelectSection("configuration").SelectKey("Nope");
    std::string line = "x";
    EXPECT_TRUE(std::getline(ps, line));
    EXPECT_EQ(line, "");
    unsigned long n = 5;
    ps.SelectKey("Nope");
    EXPECT_EQ(ps.ReadNumber(n, ','), -1);
    EXPECT_EQ(n, 5u);

    ps.SelectKey("Raw");
    ps << "\xFF"
          "abc"
       << '\n';
    ps.clear();
    ps.SelectSection("configuration").SelectKey("Raw");
    EXPECT_FALSE(std::getline(ps, line)) << "end of data, not an empty line";
}

TEST_F(ConfigurationTest, ReadNumberUpToDelimiter) {
    dir.Write("ZIMPProtocol.ini", "[SaveRAM]\nRange1= 0x1000 , 0x10FF\nRange2=zz,1\n");
    Configuration ps(file);
    ps.SelectSection("SaveRAM").SelectKey("Range1");
    unsigned long first = 0, last = 0;
    EXPECT_EQ(ps.ReadNumber(first, ','), 0);
    EXPECT_EQ(ps.ReadNumber(last, ';'), 0);
    EXPECT_EQ(first, 0x1000u);
    EXPECT_EQ(last, 0x10FFu);
    ps.SelectKey("Range2");
    EXPECT_EQ(ps.ReadNumber(first, ','), -2);
    EXPECT_EQ(first, 0u);
    dir.Write("ZIMPProtocol.ini", "[SaveRAM]\nRange1=12ab,5\n");
    ps.SelectSection("SaveRAM").SelectKey("Range1");
    EXPECT_EQ(ps.ReadNumber(first, ','), 'a') << "first character after the number";
    EXPECT_EQ(first, 12u);
}

TEST_F(ConfigurationTest, PendingValueIsStoredWhenStreamGoes) {
    {
        Configuration ps(file);
        ps.SelectSection("TqvBootLoad").SelectKey("TQVFactor");
        ps << 3;
    }
    EXPECT_NE(dir.Read("ZIMPProtocol.ini").find("[TqvBootLoad]\nTQVFactor=3\n"), std::string::npos);
}

TEST_F(ConfigurationTest, NoFileNameReadsEmptyAndWritesNothing) {
    Configuration ps("");
    ps.SelectSection("configuration").SelectKey("Echo");
    int echo = 4;
    EXPECT_FALSE(ps.ReadInteger(echo));
    EXPECT_EQ(echo, 4);
    ps.clear();
    ps.SelectKey("Echo");
    ps << 1 << '\n';
    SUCCEED();
}

TEST_F(ConfigurationTest, OverrideIsReadButNeverWritten) {
    Configuration ps(file);
    ps.Buffer().Override("LOADMEMORY", "blocksize", "128");
    ps.SelectSection("LoadMemory").SelectKey("BlockSize");
    unsigned long size = 0;
    EXPECT_EQ(ps.ReadNumber(size, '\n'), 0);
    EXPECT_EQ(size, 128u);
    EXPECT_NE(dir.Read("ZIMPProtocol.ini").find("BlockSize=0x2000"), std::string::npos);
    Configuration none("");
    none.Buffer().Override("configuration", "Echo", "1");
    none.SelectSection("configuration").SelectKey("Echo");
    int echo = 0;
    EXPECT_TRUE(none.ReadInteger(echo)) << "overrides work without a file";
    EXPECT_EQ(echo, 1);
}
