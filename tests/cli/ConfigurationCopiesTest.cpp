// The ports' private copies of the configuration: the same text for each, gone with the run,
// and what a killed run left behind cleared by the next.

#include "cli/ConfigurationCopies.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/TempDir.h"

namespace {

void Put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}
std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

pid_t DeadPid() {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

}  // namespace

TEST(ConfigurationCopies, EachPortGetsTheTextAndTheRunTakesThemAway) {
    TempDir dir;
    setenv("TMPDIR", dir.path().c_str(), 1);
    const std::string source = dir.Write("z.ini", "[configuration]\nBaudrate=9600\n");
    const std::string stale = dir.File("zimp-ports-" + std::to_string(DeadPid()) + "-abcdef");
    const std::string alive = dir.File("zimp-ports-" + std::to_string(getpid()) + "-ghijkl");
    for (const std::string& d : {stale, alive}) {
        std::filesystem::create_directory(d);
        Put(d + "/port1.ini", "x");
    }
    std::string first, second;
    {
        cli::ConfigurationCopies copies;
        std::string error;
        ASSERT_TRUE(copies.Take(source, error)) << error;
        first = copies.NewCopy(error);
        second = copies.NewCopy(error);
        ASSERT_NE(first, second);
        for (const std::string& copy : {first, second})
            EXPECT_EQ(Get(copy), "[configuration]\nBaudrate=9600\n");
        dir.Write("z.ini", "changed");  // read once: the next copy is of the first text
        EXPECT_EQ(Get(copies.NewCopy(error)), "[configuration]\nBaudrate=9600\n");
    }
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(first).parent_path()));
    EXPECT_FALSE(std::filesystem::exists(stale)) << "left by a process that is gone";
    EXPECT_TRUE(std::filesystem::exists(alive + "/port1.ini")) << "a running process's";
    unsetenv("TMPDIR");
}

TEST(ConfigurationCopies, WithoutAConfigurationEveryCopyIsNone) {
    cli::ConfigurationCopies copies;
    std::string error;
    ASSERT_TRUE(copies.Take("", error));
    EXPECT_EQ(copies.NewCopy(error), "");
    EXPECT_EQ(error, "");
}
