#include "platform/ReplacementFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "support/PtyLine.h"
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

// A FIFO, a device or a socket is written into once complete and never replaced.
TEST(ReplacementFile, SpecialFilesAreWrittenIntoNotReplaced) {
    TempDir dir;
    const std::string text = "S00600004844521B\r\nS9030000FC\r\n";
    auto expectStillSpecial = [](const std::string& path, mode_t type) {
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, type) << path << " was replaced";
    };
    {
        const std::string fifo = dir.File("fifo");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        ReplacementFile file;
        ASSERT_TRUE(file.Create(fifo)) << file.ErrorText();
        EXPECT_FALSE(file.Replaces());
        ASSERT_TRUE(WriteByName(file, text));
        char buf[256];
        EXPECT_LT(read(reader, buf, sizeof buf), 1) << "nothing goes out before the commit";
        ASSERT_TRUE(file.Commit()) << file.ErrorText();
        const ssize_t n = read(reader, buf, sizeof buf);
        EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), text);
        close(reader);
        expectStillSpecial(fifo, S_IFIFO);
        EXPECT_FALSE(file.KeepAs(dir.File("fifo.partial")));
    }
    {
        PtyLine line;  // a character device the test owns
        ASSERT_TRUE(line.ok());
        ReplacementFile file;
        ASSERT_TRUE(file.Create(line.SlavePath())) << file.ErrorText();
        ASSERT_TRUE(file.Write(text));
        ASSERT_TRUE(file.Commit()) << file.ErrorText();
        auto got = line.Receive(text.size(), 2000);
        EXPECT_EQ(std::string(got.begin(), got.end()), text);
        expectStillSpecial(line.SlavePath(), S_IFCHR);
    }
    {
        const std::string path = dir.File("sock");
        const int server = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(server, 1), 0);
        ReplacementFile file;
        ASSERT_TRUE(file.Create(path)) << file.ErrorText();
        ASSERT_TRUE(file.Write(text));
        ASSERT_TRUE(file.Commit()) << file.ErrorText();
        const int peer = accept(server, nullptr, nullptr);
        ASSERT_GE(peer, 0);
        std::string got;
        char buf[256];
        for (ssize_t n; (n = read(peer, buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<size_t>(n));
        EXPECT_EQ(got, text);
        close(peer);
        close(server);
        expectStillSpecial(path, S_IFSOCK);
    }
    {
        ReplacementFile file;
        EXPECT_FALSE(file.Create(dir.path()));
        EXPECT_EQ(file.Error(), EISDIR);
    }
}

// "-" and /dev/stdout write to the descriptor the shell gave, in its own mode: appending to
// a file opened with >> keeps what it held.
TEST(ReplacementFile, StandardOutputIsWrittenToTheShellsDescriptor) {
    TempDir dir;
    for (const char* name : {"-", "/dev/stdout"}) {
        const std::string log = dir.Write("log", "before\n");
        struct stat before;
        ASSERT_EQ(stat(log.c_str(), &before), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int fd = open(log.c_str(), O_WRONLY | O_APPEND);
            if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0)
                _exit(2);
            ReplacementFile file;
            const bool ok =
                file.Create(name) && !file.Replaces() && file.Write("after\n") && file.Commit();
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name;
        EXPECT_EQ(dir.Read("log"), "before\nafter\n") << name;
        struct stat after;
        ASSERT_EQ(stat(log.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << name << ": the file was replaced";
    }
}
