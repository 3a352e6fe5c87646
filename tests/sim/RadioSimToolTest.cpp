// The zimp-radio-sim tool as shipped: its options, its pseudo-terminal and link, the engine
// talking to it as to a radio, and the dump it leaves on SIGTERM or SIGINT.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "support/TempDir.h"
#include "zimp/ZimpTestSupport.h"

using namespace zimp;

using namespace serial;

extern char** environ;

using zimptest::Bytes;

namespace {

std::string TempPath(const std::string& name) {
    const char* dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/zimp-sim-" + std::to_string(getpid()) + "-" +
           name;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One run of the tool with its stdout on a pipe. Every wait has a limit, so that a tool that
// hangs fails the test instead of stopping the run.
class SimProcess {
  public:
    // held: signals the tool starts with blocked, so that one sent at once waits for its handler.
    explicit SimProcess(const std::vector<std::string>& args,
                        std::initializer_list<int> held = {}) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t mask;
        sigemptyset(&mask);
        for (int sig : held)
            sigaddset(&mask, sig);
        posix_spawnattr_setsigmask(&attr, &mask);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
        std::vector<std::string> all{ZIMP_RADIO_SIM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, ZIMP_RADIO_SIM, &actions, &attr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }

    // Everything the tool writes on stdout up to its end (or the first line with line=true),
    // or what came within limitMs.
    std::string Output(bool line = false, uint32_t limitMs = 30000) {
        std::string text;
        const uint64_t end = platform::TickMs() + limitMs;
        for (;;) {
            const uint64_t now = platform::TickMs();
            pollfd p{out_, POLLIN, 0};
            if (now >= end || poll(&p, 1, static_cast<int>(end - now)) <= 0)
                return text;
            char c;
            if (read(out_, &c, 1) != 1)
                return text;
            text += c;
            if (line && c == '\n')
                return text;
        }
    }
    // Exit status, or -1 when it did not exit normally within limitMs.
    int Wait(uint32_t limitMs = 30000) {
        const uint64_t end = platform::TickMs() + limitMs;
        int status = 0;
        while (pid_ > 0) {
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (r < 0 || platform::TickMs() > end)
                return -1;
            platform::SleepMs(5);
        }
        return -1;
    }
    void Signal(int sig) { kill(pid_, sig); }
    bool Started() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

int RunStatus(const std::vector<std::string>& args) {
    SimProcess p(args);
    p.Output();
    return p.Wait();
}

// The slave paths of the next n "PTY" lines; fewer when the tool printed something else or
// nothing more in time.
std::vector<std::string> PtyLines(SimProcess& sim, size_t n) {
    std::vector<std::string> paths;
    while (paths.size() < n) {
        const std::string line = sim.Output(true);
        if (line.rfind("PTY /dev/", 0) != 0 || line.back() != '\n')
            break;
        paths.push_back(line.substr(4, line.size() - 5));
    }
    return paths;
}

std::string LinkTarget(const std::string& link) {
    char target[256] = {};
    return readlink(link.c_str(), target, sizeof target - 1) > 0 ? target : "";
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

nlohmann::json ReadDump(const std::string& path) {
    return nlohmann::json::parse(ReadFile(path), nullptr, false);
}

// The engine on a port opened on path; replies are awaited for a bounded time.
class Client {
  public:
    static constexpr uint32_t kReplyMs = 10000;

    explicit Client(const std::string& path) {
        ok = port.Open(path, 115200) && engine.Attach(&port, false);
    }
    ~Client() {
        engine.Detach();
        port.Close();
    }
    // "Write Data" answered by a good write response.
    bool Write(uint32_t address, const Bytes& data) {
        uint32_t at = 0;
        return engine.WriteData(address, data.data(), static_cast<uint32_t>(data.size())) ==
                   RequestResult::Acknowledged &&
               engine.AwaitWriteResponse(at) == RequestResult::ReplyOk;
    }
    Bytes Read(uint32_t address, uint32_t n) {
        Bytes d(n);
        d.resize(engine.ReadMemory(address, d.data(), n, kReplyMs));
        return d;
    }
    // The "Status" byte, or -1 when the request failed.
    int Status(uint32_t* lastWrite = nullptr) {
        uint8_t status = 0;
        uint32_t address = 0;
        if (engine.GetStatus(status, address, kReplyMs) != RequestResult::ReplyOk)
            return -1;
        if (lastWrite)
            *lastWrite = address;
        return status;
    }

    SerialPort port;
    ZimpEngine engine;
    bool ok = false;
};

// Waits up to limitMs for the far side of the line held open on fd to go away.
bool HungUp(int fd, uint32_t limitMs = 20000) {
    const uint64_t end = platform::TickMs() + limitMs;
    for (uint64_t now = platform::TickMs(); now < end; now = platform::TickMs()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(end - now)) <= 0)
            return false;
        if (p.revents & POLLHUP)
            return true;
        char junk[64];
        (void)!read(fd, junk, sizeof junk);
    }
    return false;
}

TEST(RadioSimTool, HelpDocumentsEveryOptionAndEveryDocumentedOptionIsAccepted) {
    SimProcess p({"--help"});
    ASSERT_TRUE(p.Started());
    const std::string help = p.Output();
    EXPECT_EQ(p.Wait(), 0);
    const std::set<std::string> expected = {
        "--link",          "--baud",
        "--echo",          "--idle-ms",
        "--mode",          "--load",
        "--dump",          "--dump-times",
        "--nak",           "--nak-every",
        "--bad-write-at",  "--help",
        "--silent-after",  "--wrong-opcode-at",
        "--short-read",    "--no-write-response",
        "--buffer-length", "--decompress",
        "--corrupt-at",    "--echo-limit",
        "--vintrel",       "--ack",
        "--count",         "--unplugged",
        "--version",
    };
    std::set<std::string> documented;
    std::istringstream lines(help);
    std::string line;
    while (std::getline(lines, line)) {
        // "  --name [META]   text"
        if (line.rfind("  --", 0) != 0)
            continue;
        std::istringstream words(line);
        std::string name, meta;
        words >> name >> meta;
        if (meta.empty() ||
            meta.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos)
            meta.clear();
        documented.insert(name);
        // The parser knows it: with its value it is taken and --help still answers.
        std::vector<std::string> args{name};
        if (meta == "N" || meta == "K")
            args.push_back("3");
        else if (meta == "ADDR")
            args.push_back("0x801000");
        else if (meta == "BYTE")
            args.push_back("0x4E");
        else if (meta == "MODE")
            args.push_back("zimp");
        else if (!meta.empty())
            args.push_back(TempPath("unused"));
        args.push_back("--help");
        EXPECT_EQ(RunStatus(args), 0) << line;
    }
    EXPECT_EQ(documented, expected);
}

TEST(RadioSimTool, RefusesBadOptions) {
    EXPECT_EQ(RunStatus({"--frobnicate"}), 2);
    EXPECT_EQ(RunStatus({"--baud"}), 2);
    EXPECT_EQ(RunStatus({"--baud", "fast"}), 2);
    EXPECT_EQ(RunStatus({"--bad-write-at", "0x1000000"}), 2);
    EXPECT_EQ(RunStatus({"--mode", "xmodem"}), 2);
    EXPECT_EQ(RunStatus({"--ack", "0x100"}), 2);
    EXPECT_EQ(RunStatus({"--load", TempPath("does-not-exist")}), 1);
}

TEST(RadioSimTool, ServesTheEngineAndDumpsOnTerminate) {
    const std::string link = TempPath("link"), dump = TempPath("dump.json");
    unlink(dump.c_str());
    SimProcess sim({"--link", link, "--dump", dump, "--dump-times", "--nak", "1", "--buffer-length",
                    "0x100", "--bad-write-at", "0x800010"});
    ASSERT_TRUE(sim.Started());
    const std::string first = sim.Output(true);
    ASSERT_EQ(first.rfind("PTY /dev/", 0), 0u) << first;
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ("PTY " + std::string(target) + "\n", first);

    {
        SerialPort port;
        ZimpEngine engine;
        ASSERT_TRUE(port.Open(link, 115200));
        ASSERT_TRUE(engine.Attach(&port, false));
        const uint8_t data[4] = {1, 2, 3, 4};
        EXPECT_EQ(engine.WriteData(0x800000, data, 4),
                  zimp::RequestResult::LinkFailure);  // --nak 1
        EXPECT_EQ(engine.LinkError(), zimp::LinkError::Nak);
        EXPECT_EQ(engine.WriteData(0x800000, data, 4), zimp::RequestResult::Acknowledged);
        uint32_t at;
        EXPECT_EQ(engine.AwaitWriteResponse(at), zimp::RequestResult::ReplyOk);
        EXPECT_EQ(engine.WriteData(0x80000E, data, 4), zimp::RequestResult::Acknowledged);
        EXPECT_EQ(engine.AwaitWriteResponse(at), zimp::RequestResult::BadWrite);
        EXPECT_EQ(at, 0x800010u);
        port.Close();
        // A client that closes and opens the port again finds the radio still there.
        ASSERT_TRUE(port.Open(link, 115200));
        uint16_t length = 0;
        EXPECT_EQ(engine.GetConfiguration(length), zimp::RequestResult::ReplyOk);
        EXPECT_EQ(length, 0x100);
        EXPECT_EQ(engine.WriteData(0xFFFFFF, nullptr, 0), zimp::RequestResult::Acknowledged);
        EXPECT_EQ(engine.AwaitWriteResponse(at), zimp::RequestResult::ReplyOk);
        engine.Detach();
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_NE(access(link.c_str(), F_OK), 0);  // the link went with it

    const auto doc = nlohmann::json::parse(ReadFile(dump), nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    ASSERT_TRUE(doc.contains("requests"));
    const auto& requests = doc["requests"];
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0]["answer"], "nak");
    EXPECT_EQ(requests[0]["name"], "Write Data");
    // The NAK went out after its request came, and the next request came after the NAK.
    ASSERT_TRUE(requests[0].contains("nak_sent_ms"));
    EXPECT_GE(requests[0]["nak_sent_ms"], requests[0]["arrived_ms"]);
    EXPECT_GE(requests[1]["arrived_ms"], requests[0]["nak_sent_ms"]);
    EXPECT_FALSE(requests[1].contains("nak_sent_ms"));
    ASSERT_EQ(doc["markers"].size(), 1u);
    EXPECT_EQ(doc["markers"][0]["request"], 5);
    const auto& memories = doc["memories"];
    ASSERT_EQ(memories.size(), 1u);
    EXPECT_EQ(memories[0]["name"], "RAM");
    EXPECT_EQ(memories[0]["blocks"][0]["data"], "01020304");

    // The dump preloads the next run.
    SimProcess again({"--load", dump, "--echo"});
    const std::string pty = again.Output(true);
    ASSERT_EQ(pty.rfind("PTY ", 0), 0u);
    {
        SerialPort port;
        ZimpEngine engine;
        ASSERT_TRUE(port.Open(pty.substr(4, pty.size() - 5), 115200));
        ASSERT_TRUE(engine.Attach(&port, true));
        uint8_t d[5];
        EXPECT_EQ(engine.ReadMemory(0x800000, d, 5), 5u);
        EXPECT_EQ(Bytes(d, d + 5), (Bytes{1, 2, 3, 4, 0xFF}));
        engine.Detach();
    }
    again.Signal(SIGINT);
    EXPECT_EQ(again.Wait(), 0);
    unlink(dump.c_str());
}

TEST(RadioSimTool, SilentAfterAndWrongOpcodeAndShortRead) {
    SimProcess sim({"--silent-after", "3", "--wrong-opcode-at", "2", "--short-read", "--baud",
                    "57600", "--idle-ms", "100"});
    const std::string pty = sim.Output(true);
    ASSERT_EQ(pty.rfind("PTY ", 0), 0u);
    SerialPort port;
    ZimpEngine engine;
    ASSERT_TRUE(port.Open(pty.substr(4, pty.size() - 5), 57600));
    ASSERT_TRUE(engine.Attach(&port, false));
    uint8_t d[8];
    EXPECT_EQ(engine.ReadMemory(0x800000, d, 8), 7u);  // --short-read
    EXPECT_EQ(engine.ReadMemory(0x800000, d, 8), 0u);  // --wrong-opcode-at 2
    EXPECT_EQ(engine.RequestResult(), zimp::RequestResult::UnwelcomeReply);
    EXPECT_EQ(engine.ReadMemory(0x800000, d, 8), 7u);
    EXPECT_EQ(engine.ReadMemory(0x800000, d, 8), 0u);  // --silent-after 3
    EXPECT_EQ(engine.LinkError(), zimp::LinkError::AckTimeout);
    engine.Detach();
    port.Close();
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(RadioSimTool, CountAndItsPlaceholdersAreChecked) {
    const TempDir dir;
    const std::string link = dir.File("radio"), dump = dir.File("dump.json");
    const std::vector<std::vector<std::string>> refused = {
        {"--count", "0"},
        {"--count", "65"},
        {"--count", "2", "--link", link},  // two radios on one link
        {"--count", "2", "--dump", dump},  // and in one dump
        {"--count", "2", "--link", link + "{n}", "--dump", dump},
        {"--link", link + "{plug}"},  // a plug count is for dumps only
    };
    for (const auto& args : refused) {
        EXPECT_EQ(RunStatus(args), 2) << ::testing::PrintToString(args);
        EXPECT_FALSE(Exists(link)) << ::testing::PrintToString(args);
    }
}

TEST(RadioSimTool, CountGivesRadiosOfTheirOwn) {
    const TempDir dir;
    SimProcess sim(
        {"--count", "3", "--link", dir.File("radio{n}"), "--dump", dir.File("dump{n}.json")});
    const std::vector<std::string> ptys = PtyLines(sim, 3);
    ASSERT_EQ(ptys.size(), 3u);
    EXPECT_EQ(std::set<std::string>(ptys.begin(), ptys.end()).size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(LinkTarget(dir.File("radio" + std::to_string(i + 1))), ptys[i]);

    const Bytes data{0x11, 0x22, 0x33};
    {
        // All three lines open at once, each answering on its own.
        std::vector<std::unique_ptr<Client>> clients;
        for (size_t i = 0; i < 3; ++i) {
            clients.push_back(std::make_unique<Client>(dir.File("radio" + std::to_string(i + 1))));
            ASSERT_TRUE(clients.back()->ok);
            EXPECT_EQ(clients.back()->Status(), 0) << "radio " << i + 1;
        }
        // Radio 2 alone is loaded and given the end-of-load marker.
        ASSERT_TRUE(clients[1]->Write(0x800000, data));
        ASSERT_TRUE(clients[1]->Write(0xFFFFFF, {}));
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(clients[i]->Status(), i == 1 ? 1 : 0) << "radio " << i + 1;
            EXPECT_EQ(clients[i]->Read(0x800000, 3), i == 1 ? data : Bytes(3, 0xFF))
                << "radio " << i + 1;
        }
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    for (size_t i = 0; i < 3; ++i) {
        const std::string n = std::to_string(i + 1);
        EXPECT_FALSE(Exists(dir.File("radio" + n)));
        const auto doc = ReadDump(dir.File("dump" + n + ".json"));
        ASSERT_FALSE(doc.is_discarded()) << "radio " << n;
        // Each dump has its own radio's requests and memories only.
        EXPECT_EQ(doc["requests"].size(), i == 1 ? 5u : 3u) << "radio " << n;
        EXPECT_EQ(doc["markers"].size(), i == 1 ? 1u : 0u) << "radio " << n;
        EXPECT_EQ(doc["memories"].size(), i == 1 ? 1u : 0u) << "radio " << n;
    }
    EXPECT_EQ(ReadDump(dir.File("dump2.json"))["memories"][0]["blocks"][0]["data"], "112233");
}

TEST(RadioSimTool, UnplugHangsUpAndPlugBringsAFreshRadio) {
    const TempDir dir;
    // 0x5A 0x5B at 0x800100.
    const std::string load = dir.Write(
        "load.json",
        R"({"memories": [{"code": 8, "blocks": [{"address": 8388864, "data": "5a5b"}]}]})");
    const std::string link1 = dir.File("radio1"), link2 = dir.File("radio2");
    SimProcess sim({"--count", "2", "--link", dir.File("radio{n}"), "--dump",
                    dir.File("dump{n}-{plug}.json"), "--load", load, "--nak", "1"});
    const std::vector<std::string> first = PtyLines(sim, 2);
    ASSERT_EQ(first.size(), 2u);
    const Bytes preloaded{0x5A, 0x5B}, data{1, 2, 3};
    {
        Client client(link1);
        ASSERT_TRUE(client.ok);
        EXPECT_FALSE(client.Write(0x800000, data));  // --nak 1
        EXPECT_EQ(client.engine.LinkError(), LinkError::Nak);
        ASSERT_TRUE(client.Write(0x800000, data));
        EXPECT_EQ(client.Read(0x800100, 2), preloaded);

        // A program that holds radio 2's line open sees it hang up.
        const int held = open(first[1].c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(held, 0);
        sim.Signal(SIGUSR1);
        EXPECT_TRUE(HungUp(held));
        close(held);
        // Radios are unplugged in order, so radio 1 went first: its client finds it gone, and
        // with it both links, and each radio's dump is there.
        EXPECT_EQ(client.Status(), -1);
        EXPECT_EQ(client.engine.LinkError(), LinkError::PortGone);
        EXPECT_FALSE(Exists(link1));
        EXPECT_FALSE(Exists(link2));
        const auto doc = ReadDump(dir.File("dump1-1.json"));
        ASSERT_FALSE(doc.is_discarded());
        EXPECT_EQ(doc["requests"].size(), 3u);
        EXPECT_FALSE(ReadDump(dir.File("dump2-1.json")).is_discarded());
    }

    sim.Signal(SIGUSR2);
    const std::vector<std::string> second = PtyLines(sim, 2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(LinkTarget(link1), second[0]);
    EXPECT_EQ(LinkTarget(link2), second[1]);
    {
        Client client(link1);
        ASSERT_TRUE(client.ok);
        EXPECT_EQ(client.Read(0x800000, 3), Bytes(3, 0xFF));  // the write went with the radio
        EXPECT_EQ(client.Read(0x800100, 2), preloaded);       // the preload came again
        uint32_t lastWrite = 0xFFFFFFFF;
        EXPECT_EQ(client.Status(&lastWrite), 0);
        EXPECT_EQ(lastWrite, 0u);
        EXPECT_FALSE(client.Write(0x800000, data));  // --nak 1 counts from the plug
        EXPECT_EQ(client.engine.LinkError(), LinkError::Nak);
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(sim.Output(), "");  // no line more than the two plugs'
    EXPECT_FALSE(Exists(link1));
    // Each plug kept its own dump; the second's requests are counted from 1 again.
    const auto doc = ReadDump(dir.File("dump1-2.json"));
    ASSERT_FALSE(doc.is_discarded());
    ASSERT_EQ(doc["requests"].size(), 4u);
    EXPECT_EQ(doc["requests"][0]["index"], 1);
    EXPECT_EQ(doc["requests"][3]["answer"], "nak");
    EXPECT_EQ(ReadDump(dir.File("dump1-1.json"))["memories"][0]["blocks"].size(), 2u);
}

TEST(RadioSimTool, UnpluggedWaitsForSigusr2AndEachPlugsInAFreshRadio) {
    const TempDir dir;
    const std::string link1 = dir.File("radio1"), dump1 = dir.File("dump1.json");
    SimProcess sim({"--unplugged", "--count", "2", "--link", dir.File("radio{n}"), "--dump",
                    dir.File("dump{n}.json")},
                   {SIGUSR1, SIGUSR2});
    sim.Signal(SIGUSR2);  // held until the tool takes it
    const std::vector<std::string> first = PtyLines(sim, 2);
    ASSERT_EQ(first.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        Client client(dir.File("radio" + std::to_string(i + 1)));
        ASSERT_TRUE(client.ok);
        EXPECT_EQ(client.Status(), 0);
        if (i == 0) {
            ASSERT_TRUE(client.Write(0x800000, {7}));
        }
    }
    // Radios still plugged in are swapped for fresh ones.
    sim.Signal(SIGUSR2);
    const std::vector<std::string> second = PtyLines(sim, 2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(LinkTarget(link1), second[0]);
    {
        Client client(link1);
        ASSERT_TRUE(client.ok);
        EXPECT_EQ(client.Read(0x800000, 1), Bytes{0xFF});
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    // Nothing was printed before the first SIGUSR2: the four lines were all.
    EXPECT_EQ(sim.Output(), "");
    // Without {plug} the second plug's dump replaced the first's.
    const auto doc = ReadDump(dump1);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["requests"].size(), 1u);
    EXPECT_TRUE(doc["memories"].empty());
}

}  // namespace
