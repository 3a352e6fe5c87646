#include "platform/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/TempDir.h"

using namespace platform;

namespace {
std::string Get(const char* s, const char* k, const std::string& file, const char* def = "",
                size_t size = 256) {
    std::string buf(size, '\0');
    size_t n = ReadIniValue(s, k, def, buf.data(), size, file);
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
    ASSERT_TRUE(WriteIniValue("Configuration", "ECHO", "1", f));
    EXPECT_EQ(dir.Read("a.ini"),
              "; top comment\n[configuration]\nECHO=1\n; keep me\nBlockSize=64\n\n"
              "[Other]\nEcho=7\n");
    ASSERT_TRUE(WriteIniValue("configuration", "LastData", "0102", f));
    ASSERT_TRUE(WriteIniValue("New", "K", "v", f));
    EXPECT_EQ(dir.Read("a.ini"),
              "; top comment\n[configuration]\nECHO=1\n; keep me\nBlockSize=64\nLastData=0102\n\n"
              "[Other]\nEcho=7\n[New]\nK=v\n");
    EXPECT_EQ(IniKeys("CONFIGURATION", f),
              (std::vector<std::string>{"ECHO", "BlockSize", "LastData"}));
}

TEST(IniFile, WriteCreatesMissingFileAndFailsWithoutName) {
    TempDir dir;
    ASSERT_TRUE(WriteIniValue("s", "k", "v", dir.File("new.ini")));
    EXPECT_EQ(dir.Read("new.ini"), "[s]\nk=v\n");
    EXPECT_FALSE(WriteIniValue("s", "k", "v", ""));
    EXPECT_FALSE(WriteIniValue("s", "k", "v", dir.File("no/such/dir.ini")));
}

TEST(IniFile, WriteGoesThroughSymbolicLinksAndKeepsModeAndOwner) {
    TempDir dir;
    auto real = dir.Write("real.ini", "[s]\nk=old\n");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(real.c_str(), 4321, 4322), 0);
    }
    ASSERT_EQ(mkdir(dir.File("links").c_str(), 0755), 0);
    ASSERT_EQ(symlink("../real.ini", dir.File("links/zimp.ini").c_str()), 0);

    ASSERT_TRUE(WriteIniValue("s", "k", "new", dir.File("links/zimp.ini")));
    struct stat link, st;
    ASSERT_EQ(lstat(dir.File("links/zimp.ini").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode)) << "the link stays a link";
    EXPECT_EQ(dir.Read("real.ini"), "[s]\nk=new\n") << "the target gets the value";
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2)
        << "no temporary file left beside the target";
}

TEST(IniFile, FileOverTheLimitIsNeitherReadNorReplaced) {
    TempDir dir;
    std::string big = "[s]\nk=v\n" + std::string(kMaxIniFileSize, ';') + "\n";
    auto f = dir.Write("big.ini", big);
    EXPECT_EQ(CheckIniFile(f), ReadStatus::TooLarge);
    EXPECT_EQ(Get("s", "k", f, "dflt"), "dflt");
    EXPECT_FALSE(WriteIniValue("s", "k", "w", f));
    EXPECT_EQ(dir.Read("big.ini"), big) << "an unreadable file is never replaced";
    EXPECT_EQ(CheckIniFile("/dev/zero"), ReadStatus::TooLarge) << "endless input";
    EXPECT_EQ(CheckIniFile(dir.File("none.ini")), ReadStatus::Missing);
    EXPECT_EQ(CheckIniFile(dir.Write("ok.ini", "[s]\n")), ReadStatus::Ok);
}
