#include "station/ReportFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "support/TempDir.h"

using nlohmann::json;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Appends count records {"writer": writer, "i": i} of about size bytes, long enough that a
// record written in parts would show.
bool AppendMany(station::ReportFile& report, int writer, int count, size_t size = 700) {
    const std::string padding(size, 'x');
    for (int i = 0; i < count; ++i) {
        std::string error;
        if (!report.Append({{"writer", writer}, {"i", i}, {"padding", padding}}, error))
            return false;
    }
    return true;
}

// Every line is a whole record and every (writer, i) is there once.
void ExpectAllRecords(const std::string& text, int writers, int count) {
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : Lines(text)) {
        const json record = json::parse(line, nullptr, false);
        ASSERT_FALSE(record.is_discarded()) << "not a whole record: " << line.substr(0, 80);
        EXPECT_TRUE(seen.emplace(record.at("writer").get<int>(), record.at("i").get<int>()).second)
            << line.substr(0, 40);
    }
    EXPECT_EQ(seen.size(), size_t(writers * count));
}

}  // namespace

// Whatever was there stays byte for byte; a cut last line is ended before the new records.
TEST(ReportFile, AppendsAfterWhatTheFileHolds) {
    struct Case {
        const char* name;
        bool exists;
        std::string before;
        std::string kept;
    };
    const std::string earlier = "{\"serial\":1}\n{\"serial\":2}\n";
    const Case cases[] = {
        {"missing", false, "", ""},
        {"empty", true, "", ""},
        {"complete", true, earlier, earlier},
        {"cut", true, earlier + "{\"serial\":3,\"res", earlier + "{\"serial\":3,\"res\n"},
    };
    const json records[] = {{{"serial", 4}, {"result", "ok"}}, {{"serial", 5}, {"name", "a\nb"}}};
    for (const Case& c : cases) {
        TempDir dir;
        if (c.exists)
            dir.Write("report.jsonl", c.before);
        station::ReportFile report;
        std::string error;
        ASSERT_TRUE(report.Open(dir.File("report.jsonl"), error)) << c.name << ": " << error;
        for (const json& record : records)
            ASSERT_TRUE(report.Append(record, error)) << c.name << ": " << error;
        EXPECT_EQ(dir.Read("report.jsonl"),
                  c.kept + records[0].dump() + "\n" + records[1].dump() + "\n")
            << c.name;
    }
}

TEST(ReportFile, ANewFileIsCreatedWithMode0644) {
    TempDir dir;
    const mode_t mask = umask(022);
    station::ReportFile report;
    std::string error;
    const bool opened = report.Open(dir.File("report.jsonl"), error);
    umask(mask);
    ASSERT_TRUE(opened) << error;
    struct stat st;
    ASSERT_EQ(stat(dir.File("report.jsonl").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(ReportFile, RecordsOfManyThreadsAreAllThereAndWhole) {
    TempDir dir;
    station::ReportFile report;
    std::string error;
    ASSERT_TRUE(report.Open(dir.File("report.jsonl"), error)) << error;
    // Threads share one descriptor, so its flock does not keep them apart: the mutex does.
    constexpr int kThreads = 4, kEach = 50;
    constexpr size_t kSize = 20000;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            if (!AppendMany(report, t, kEach, kSize))
                ++failures;
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    ExpectAllRecords(dir.Read("report.jsonl"), kThreads, kEach);
}

// Stations sharing one file: each has its own descriptor, and only O_APPEND keeps them apart.
TEST(ReportFile, RecordsOfManyProcessesAreAllThereAndWhole) {
    TempDir dir;
    const std::string path = dir.Write("report.jsonl", "");
    // Records of several pages, whose size shows before all their bytes are in.
    constexpr int kProcesses = 4, kEach = 50;
    constexpr size_t kSize = 20000;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            station::ReportFile report;
            std::string error;
            _exit(report.Open(path, error) && AppendMany(report, p, kEach, kSize) ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ExpectAllRecords(dir.Read("report.jsonl"), kProcesses, kEach);
}

// Stations writing into one FIFO: with no lock there, only one write(2) per record keeps the
// records apart.
TEST(ReportFile, RecordsOfManyProcessesIntoOneFifoAreWhole) {
    TempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    constexpr int kProcesses = 4, kEach = 50;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            station::ReportFile report;
            std::string error;
            _exit(report.Open(fifo, error) && AppendMany(report, p, kEach) ? 0 : 1);
        }
        children.push_back(pid);
    }
    // Read while they write (the records do not fit in the pipe), until all have ended.
    std::string text;
    const uint64_t giveUp = platform::TickMs() + 60000;
    while (!children.empty() && platform::TickMs() < giveUp) {
        pollfd p{reader, POLLIN, 0};
        (void)poll(&p, 1, 20);
        char buffer[65536];
        for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<size_t>(n));
        for (auto it = children.begin(); it != children.end();) {
            int status = 0;
            if (waitpid(*it, &status, WNOHANG) != *it) {
                ++it;
                continue;
            }
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            it = children.erase(it);
        }
    }
    char buffer[65536];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(reader);
    ASSERT_TRUE(children.empty()) << "writers still running";
    ExpectAllRecords(text, kProcesses, kEach);
}

TEST(ReportFile, SpecialFilesAreWrittenInto) {
    TempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string error;
    {
        station::ReportFile report;
        EXPECT_FALSE(report.Open(fifo, error)) << "a FIFO without a reader";
        EXPECT_NE(error.find(fifo), std::string::npos) << error;
    }
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    station::ReportFile report;
    ASSERT_TRUE(report.Open(fifo, error)) << error;
    ASSERT_TRUE(report.Append({{"serial", 7}}, error)) << error;
    char buffer[64] = {};
    EXPECT_EQ(read(reader, buffer, sizeof buffer), 13);
    EXPECT_STREQ(buffer, "{\"serial\":7}\n");
    close(reader);
    struct stat st;
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    station::ReportFile null;
    ASSERT_TRUE(null.Open("/dev/null", error)) << error;
    EXPECT_TRUE(null.Append({{"serial", 8}}, error)) << error;
}

TEST(ReportFile, FailuresAreReported) {
    TempDir dir;
    station::ReportFile report;
    std::string error;
    EXPECT_FALSE(report.Append({{"serial", 1}}, error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(report.Open(dir.File("no-dir/report.jsonl"), error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(report.Open(dir.path(), error));
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
    // A full device: the write's error text, not a silent loss.
    ASSERT_TRUE(report.Open("/dev/full", error)) << error;
    EXPECT_FALSE(report.Append({{"serial", 1}}, error));
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
}
