#include "platform/FileLocator.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

using platform::FileLocator;

TEST(FileLocator, WorkingDirectoryWinsOverProgramDirectory) {
    TempDir work, prog, extra;
    prog.Write("ZIMPProtocol.ini", "");
    FileLocator loc(work.path(), prog.path(), " " + extra.path() + " ;/nonexistent");
    EXPECT_EQ(loc.Locate("ZIMPProtocol.ini", FileLocator::kEverywhere),
              prog.File("ZIMPProtocol.ini"));
    work.Write("ZIMPProtocol.ini", "");
    EXPECT_EQ(loc.Locate("ZIMPProtocol.ini", FileLocator::kEverywhere),
              work.File("ZIMPProtocol.ini"));
    EXPECT_EQ(loc.Locate("ZIMPProtocol.ini", FileLocator::kProgramDir),
              prog.File("ZIMPProtocol.ini"));
    extra.Write("only-here.txt", "");
    EXPECT_EQ(loc.Locate("only-here.txt", FileLocator::kEverywhere), extra.File("only-here.txt"));
    EXPECT_FALSE(loc.Locate("only-here.txt", 7));
    EXPECT_FALSE(loc.Locate("nowhere.ini", FileLocator::kEverywhere));
    EXPECT_FALSE(std::filesystem::exists(prog.File("nowhere.ini"))) << "never created";
}

TEST(FileLocator, NameWithDirectoryIsTakenAsGivenOrByItsBareName) {
    TempDir work, other;
    auto given = other.Write("cfg.ini", "");
    FileLocator loc(work.path(), "/nonexistent");
    EXPECT_EQ(loc.Locate(given, FileLocator::kAsGiven), given);
    work.Write("cfg.ini", "");
    EXPECT_EQ(loc.Locate(other.File("missing/cfg.ini"), FileLocator::kEverywhere),
              work.File("cfg.ini"))
        << "the bare file name is looked up in the working directory";
}
