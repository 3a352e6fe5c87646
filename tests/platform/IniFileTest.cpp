#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

using namespace platform;

namespace {
std::string Get(const char* s, const char* k, const std::string& file, const char* def = "",
                size_t size = 256) {
    std::string buf(size, '\0');
    size_t n = GetPrivateProfileString(s, k, def, buf.data(), size, file);
    return buf.substr(0, n);
}
}  // namespace

TEST(IniFile, ReadsCaseInsensitivelyAndTrims) {
    TempDir dir;
    auto f = dir.Write("a.ini",
                       "; comment\r\n[Configuration]\r\nPort = /dev/ttyS0 \r\n"
                       "Quoted=\"a b\"\r\n[LoadMemory]\r\nBlockSize=0x2000\r\n");
    EXPECT_EQ(Get("configuration", "PORT", f), "/dev/ttyS0");
    EXPECT_EQ(Get("CONFIGURATION", "quoted", f), "a b");
    EXPECT_EQ(Get("loadmemory", "blocksize", f), "0x2000");
    EXPECT_EQ(Get("configuration", "BlockSize", f, "dflt"), "dflt") << "other section's key";
    EXPECT_EQ(Get("configuration", "Port", dir.File("missing.ini"), "x"), "x");
    EXPECT_EQ(Get("configuration", "Port", f, "", 5), "/dev") << "cut to size - 1";
}

TEST(IniFile, WriteReplacesInPlaceAndKeepsEverythingElse) {
    TempDir dir;
    auto f = dir.Write("a.ini",
                       "; top comment\n[configuration]\nEcho=0\n; keep me\nBlockSize=64\n\n"
                       "[Other]\nEcho=7\n");
    ASSERT_TRUE(WritePrivateProfileString("Configuration", "ECHO", "1", f));
    EXPECT_EQ(dir.Read("a.ini"),
              "; top comment\n[configuration]\nECHO=1\n; keep me\nBlockSize=64\n\n"
              "[Other]\nEcho=7\n");
    ASSERT_TRUE(WritePrivateProfileString("configuration", "LastData", "0102", f));
    ASSERT_TRUE(WritePrivateProfileString("New", "K", "v", f));
    EXPECT_EQ(dir.Read("a.ini"),
              "; top comment\n[configuration]\nECHO=1\n; keep me\nBlockSize=64\nLastData=0102\n\n"
              "[Other]\nEcho=7\n[New]\nK=v\n");
    EXPECT_EQ(GetPrivateProfileKeys("CONFIGURATION", f),
              (std::vector<std::string>{"ECHO", "BlockSize", "LastData"}));
}

TEST(IniFile, WriteCreatesMissingFileAndFailsWithoutName) {
    TempDir dir;
    ASSERT_TRUE(WritePrivateProfileString("s", "k", "v", dir.File("new.ini")));
    EXPECT_EQ(dir.Read("new.ini"), "[s]\nk=v\n");
    EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", ""));
    EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", dir.File("no/such/dir.ini")));
}
