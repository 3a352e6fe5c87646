// The zimp-radio-sim tool as shipped: its options, its pseudo-terminal and link, the engine
// talking to it as to a radio, and the dump it leaves on SIGTERM or SIGINT.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

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

// One run of the tool with its stdout on a pipe.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<std::string> all{ZIMP_RADIO_SIM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, ZIMP_RADIO_SIM, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
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

    // Everything the tool writes on stdout up to its end (or the first line with line=true).
    std::string Output(bool line = false) {
        std::string text;
        char c;
        while (read(out_, &c, 1) == 1) {
            text += c;
            if (line && c == '\n')
                break;
        }
        return text;
    }
    // Exit status, or -1 when it did not exit normally.
    int Wait() {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

}  // namespace
