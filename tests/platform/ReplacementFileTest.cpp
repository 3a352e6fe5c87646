#include "platform/ReplacementFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "support/TempDir.h"

using platform::ReplacementFile;
using Temporary = ReplacementFile::Temporary;

namespace {

std::set<std::string> Names(const TempDir& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.insert(e.path().filename().string());
    return names;
}

// Writes through the temporary file's name, as the S-Record writer does.
bool WriteByName(const ReplacementFile& file, const std::string& text) {
    FILE* f = std::fopen(file.TemporaryPath().c_str(), "w");
    if (!f)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

class ReplacementFileTest : public ::testing::TestWithParam<Temporary> {
  protected:
    TempDir dir;
};

}  // namespace

TEST_P(ReplacementFileTest, CommitReplacesTheFileAndLeavesNothingElse) {
    const std::string target = dir.Write("a.s19", "old\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ReplacementFile file;
    ASSERT_TRUE(file.Create(target, GetParam())) << file.ErrorText();
    ASSERT_TRUE(WriteByName(file, "new by name\n"));
    EXPECT_EQ(dir.Read("a.s19"), "old\n") << "untouched until committed";
    ASSERT_TRUE(file.Commit()) << file.ErrorText();
    EXPECT_EQ(dir.Read("a.s19"), "new by name\n");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(dir), std::set<std::string>{"a.s19"});
}

TEST_P(ReplacementFileTest, WhatIsNotCommittedLeavesTheTargetAndNoTrace) {
    const std::string target = dir.Write("a.s19", "old\n");
    {
        ReplacementFile file;
        ASSERT_TRUE(file.Create(target, GetParam()));
        ASSERT_TRUE(file.Write("half"));
    }
    {
        ReplacementFile file;
        ASSERT_TRUE(file.Create(target, GetParam()));
        ASSERT_TRUE(file.Write("kept part\n"));
        ASSERT_TRUE(file.KeepAs(dir.File("a.s19.partial"))) << file.ErrorText();
    }
    EXPECT_EQ(dir.Read("a.s19"), "old\n");
    EXPECT_EQ(dir.Read("a.s19.partial"), "kept part\n");
    EXPECT_EQ(Names(dir), (std::set<std::string>{"a.s19", "a.s19.partial"}));
}

std::string KindName(const ::testing::TestParamInfo<Temporary>& kind) {
    return kind.param == Temporary::Unnamed ? "Unnamed" : "Named";
}

INSTANTIATE_TEST_SUITE_P(Kinds, ReplacementFileTest,
                         ::testing::Values(Temporary::Unnamed, Temporary::Named), KindName);

// A process that dies while writing (no destructor, no cleanup) leaves only the old file.
TEST(ReplacementFile, ProcessDyingMidwayLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string target = dir.Write("a.s19", "old\n");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ReplacementFile file;
        bool ok = file.Create(target) && file.Write("half written");
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(dir.Read("a.s19"), "old\n");
    EXPECT_EQ(Names(dir), std::set<std::string>{"a.s19"});
}
