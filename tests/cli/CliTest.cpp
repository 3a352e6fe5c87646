// The zimp command line end to end: the real binary against the real simulator binary.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>

#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace {

struct Result {
    int code;
    std::string out, err;
};

class CliTest : public ::testing::Test {
  protected:
    // --config must name an existing file; commands on files alone get an empty one.
    void SetUp() override { dir.Write("ZIMPProtocol.ini", ""); }
    // Starts the simulated radio with extra options and writes a configuration naming it.
    void StartRadio(std::vector<std::string> options = {}, int baud = 115200) {
        std::vector<std::string> argv = {ZIMP_RADIO_SIM, "--dump", dir.File("dump.json")};
        argv.insert(argv.end(), options.begin(), options.end());
        radio = std::make_unique<Subprocess>(argv);
        std::string line = radio->WaitForLine("PTY ");
        ASSERT_FALSE(line.empty()) << radio->err;
        dir.Write("ZIMPProtocol.ini", "[configuration]\nPort=" + line.substr(4) +
                                          "\nBaudrate=" + std::to_string(baud) +
                                          "\nEcho=0\n[LoadMemory]\nBlockSize=64\n"
                                          "[SaveRAM]\nType=S1\nRange1=0x1000,0x101F\n");
    }
    std::string Dump() {
        radio->Signal(SIGTERM);
        radio->Wait();
        return dir.Read("dump.json");
    }
    Result Zimp(std::vector<std::string> args, const std::string& input = "") {
        std::vector<std::string> argv = {ZIMP_CLI, "--config", dir.File("ZIMPProtocol.ini")};
        argv.insert(argv.end(), args.begin(), args.end());
        Subprocess p(argv, dir.path());
        if (!input.empty())
            p.Input(input);
        p.CloseInput();
        int code = p.Wait();
        return {code, p.out, p.err};
    }
    std::string Image() {
        // 40 bytes at 0x1000: two S1 records.
        return dir.Write(
            "img.s19",
            "S00600004844521B\n"
            "S1231000000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FDC\n"
            "S10B10202021222324252627A8\n"
            "S9030000FC\n");
    }

    // count S1 records of 32 bytes from 0x1000 (record r holds r, r + 1 ... r + 31).
    std::string RecordsFile(const std::string& name, int count) {
        std::string text = "S00600004844521B\n";
        for (int r = 0; r < count; ++r) {
            unsigned sum = 0x23 + 0x10 + r * 32 / 256 + (r * 32) % 256;
            char line[80];
            std::snprintf(line, sizeof line, "S123%04X", 0x1000 + r * 32);
            std::string rec = line;
            for (int i = 0; i < 32; ++i) {
                std::snprintf(line, sizeof line, "%02X", (r + i) & 0xFF);
                rec += line;
                sum += (r + i) & 0xFF;
            }
            std::snprintf(line, sizeof line, "%02X\n", (~sum) & 0xFF);
            text += rec + line;
        }
        return dir.Write(name, text + "S9030000FC\n");
    }

    TempDir dir;
    std::unique_ptr<Subprocess> radio;
};

}  // namespace

TEST_F(CliTest, LoadSaveAndVerifyAgainstTheRadio) {
    StartRadio();
    auto img = Image();
    Result load = Zimp({"load", "ram", img, "--verify"});
    EXPECT_EQ(load.code, 0) << load.err;
    EXPECT_EQ(load.out, "loaded 40 bytes from " + img + " into ram (verified)\n");
    EXPECT_EQ(load.err, "");
    Result save = Zimp({"save", "ram", "back.s19", "--range", "0x1000,0x1027"});
    EXPECT_EQ(save.code, 0) << save.err;
    Result info = Zimp({"info", "--json", "back.s19"});
    EXPECT_EQ(info.code, 0);
    EXPECT_EQ(info.out,
              "{\"header\": \"Saved from radio\", \"blocks\": [{\"start\": 4096, \"end\": 4136, "
              "\"kind\": 3, \"line\": 2, \"sum\": 780}], \"runs\": [{\"start\": 4096, "
              "\"length\": 40, \"sum\": 780}], \"total_length\": 40}\n");
    // Names given relative to where zimp ran are stored whole, for a program started elsewhere.
    EXPECT_NE(dir.Read("ZIMPProtocol.ini").find("File=" + dir.File("back.s19") + "\n"),
              std::string::npos);
    EXPECT_EQ(dir.Read("ZIMPProtocol.ini").find("RAM="), std::string::npos)
        << "a load writes the configuration only when asked";
    Result again = Zimp({"load", "ram", "./img.s19", "--remember"});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(dir.Read("ZIMPProtocol.ini").find("RAM=" + dir.File("img.s19") + "\n"),
              std::string::npos)
        << dir.Read("ZIMPProtocol.ini");
    EXPECT_NE(Dump().find("\"markers\": [{\"request\""), std::string::npos) << "end marker";
}

TEST_F(CliTest, FailedLoadExitsOneWithTheMessages) {
    StartRadio({"--nak", "4"});
    Result r = Zimp({"--quiet", "load", "flash", Image()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "NAK is received\nFile was not loaded.\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, VerifyFindsWhatTheRadioDidNotStore) {
    StartRadio();  // stores compressed blocks as they come: they differ from the image
    Result r = Zimp({"load", "ram", Image(), "--compress", "--verify"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Verify failed at address 1000\nFile was not loaded.\n");
}

TEST_F(CliTest, InterruptRunsTheLoadsCancel) {
    // A radio on a 300-baud line takes seconds over 32 blocks, so the interrupt lands in
    // the middle of the load whatever the machine's speed.
    StartRadio({"--baud", "300"}, 300);
    auto img = RecordsFile("big.s19", 64);
    Subprocess p({ZIMP_CLI, "--config", dir.File("ZIMPProtocol.ini"), "load", "ram", img},
                 dir.path());
    p.CloseInput();
    platform::SleepMs(1500);
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(), 130);
    EXPECT_EQ(p.err, "File was not loaded.\n");
    EXPECT_NE(Dump().find("\"markers\": []"), std::string::npos) << "no end marker";
}

// A radio that goes away midway is reported once, by its port's name.
TEST_F(CliTest, RadioThatGoesAwayMidwayIsReportedOnce) {
    StartRadio({"--baud", "300"}, 300);
    const std::string ini = dir.Read("ZIMPProtocol.ini");
    const std::string port = ini.substr(ini.find("Port=") + 5,
                                        ini.find('\n', ini.find("Port=")) - ini.find("Port=") - 5);
    auto img = RecordsFile("big.s19", 64);
    Subprocess p({ZIMP_CLI, "--config", dir.File("ZIMPProtocol.ini"), "load", "ram", img},
                 dir.path());
    p.CloseInput();
    platform::SleepMs(1000);
    radio->Signal(SIGKILL);
    EXPECT_EQ(p.Wait(), 1);
    EXPECT_EQ(p.err, "The port " + port + " went away.\nFile was not loaded.\n");
}

// The radio answers a block that it was still receiving when the load was interrupted; that
// late answer is not taken for the next command's.
TEST_F(CliTest, CommandAfterAnInterruptedLoadGetsItsOwnAnswer) {
    StartRadio({"--baud", "115200"});
    auto img = RecordsFile("big.s19", 1024);
    for (int i = 0; i < 3; ++i) {
        Subprocess p({ZIMP_CLI, "--config", dir.File("ZIMPProtocol.ini"), "--block-size", "4096",
                      "load", "ram", img},
                     dir.path());
        p.CloseInput();
        platform::SleepMs(400 + 100 * i);
        p.Signal(SIGINT);
        EXPECT_EQ(p.Wait(), 130) << p.err;
        Result status = Zimp({"request", "status"});
        EXPECT_EQ(status.code, 0) << status.err;
    }
}

// An echoing radio at a rate returns each byte as it arrives; were the echo paced like an
// answer, the simulator would sit out the next frame's bytes and answer NAK.
TEST_F(CliTest, EchoingRadioAtARateTakesWholeBlocks) {
    StartRadio({"--echo", "--baud", "115200"});
    auto img = RecordsFile("8k.s19", 256);
    Result r = Zimp({"--echo", "--block-size", "4096", "--quiet", "load", "ram", img});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, RequestsPrintTheirResults) {
    StartRadio();
    Result w = Zimp({"request", "write", "001000", "0A0B0C"});
    EXPECT_EQ(w.code, 0) << w.err;
    EXPECT_EQ(w.out, "1000\n");
    Result r = Zimp({"request", "read", "001000", "3"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "0A0B0C\n");
    Result c = Zimp({"request", "checksum", "001000", "3"});
    EXPECT_EQ(c.out, "Check Sum: 21\n");
    Result cfg = Zimp({"request", "config"});
    EXPECT_EQ(cfg.out, "Buffer Length is 0x2000\n");
    Result bad = Zimp({"request", "read", "1000", "0"});
    EXPECT_EQ(bad.code, 2);
    EXPECT_EQ(bad.err, "Please enter an integer between 1 and 255.\n");
    Result odd = Zimp({"request", "read", "100", "1"});
    EXPECT_EQ(odd.code, 2);
    EXPECT_EQ(odd.err, "The number of caracters must be even\n");
    std::string ini = dir.Read("ZIMPProtocol.ini");
    EXPECT_NE(ini.find("LastAddress=001000"), std::string::npos);
    EXPECT_NE(ini.find("LastData=0A0B0C"), std::string::npos);
}

TEST_F(CliTest, BadWriteResponsePrintsAddressAndFails) {
    StartRadio({"--bad-write-at", "0x2000"});
    Result w = Zimp({"request", "write", "002000", "01"});
    EXPECT_EQ(w.code, 1);
    EXPECT_EQ(w.out, "2000\n");
    EXPECT_EQ(w.err, "Bad Write Response\n");
}

TEST_F(CliTest, MissingWriteResponseEndsWithAReplyTimeout) {
    StartRadio({"--no-write-response"});
    // On the command line for one run, or in the configuration; seconds either way.
    Result erase = Zimp({"--response-timeout", "1", "request", "erase"});
    EXPECT_EQ(erase.code, 1);
    EXPECT_EQ(erase.err, "Reply Timeout.\n");
    std::string ini = dir.Read("ZIMPProtocol.ini");
    ini.insert(ini.find("Echo=0\n"), "WriteResponseTimeout=1\n");
    dir.Write("ZIMPProtocol.ini", ini);
    Result load = Zimp({"--quiet", "load", "ram", Image()});
    EXPECT_EQ(load.code, 1);
    EXPECT_EQ(load.err, "Reply Timeout.\nFile was not loaded.\n");
    for (const char* bad : {"0", "86401", "x"}) {
        Result r = Zimp({"--response-timeout", bad, "request", "status"});
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_EQ(r.err, "zimp: --response-timeout takes 1 to 86400 seconds (see zimp --help)\n");
    }
    Result help = Zimp({"--help"});
    EXPECT_NE(help.out.find("--response-timeout SECONDS"), std::string::npos);
}

TEST_F(CliTest, PortThatDoesNotOpenIsReported) {
    dir.Write("ZIMPProtocol.ini", "[configuration]\nPort=/nonexistent\nBaudrate=9600\n");
    Result r = Zimp({"request", "status"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "Cannot open port /nonexistent: No such file or directory.\n"
              "Port is not open or its handler is bad.\n");
}

TEST_F(CliTest, PortHeldByAnotherProgramIsRefusedAtOnce) {
    StartRadio();
    const std::string ini = dir.Read("ZIMPProtocol.ini");
    const size_t at = ini.find("Port=") + 5;
    const std::string device = ini.substr(at, ini.find('\n', at) - at);
    const int other = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    Result r = Zimp({"request", "status"});
    EXPECT_EQ(r.code, 1);
    // This test holds it: the message names it.
    std::ifstream commFile("/proc/self/comm");
    std::string comm;
    std::getline(commFile, comm);
    EXPECT_EQ(r.err, "Cannot open port " + device + ": held by another program (" + comm +
                         ", pid " + std::to_string(getpid()) +
                         ").\n"
                         "Port is not open or its handler is bad.\n");
    close(other);
    EXPECT_EQ(Zimp({"request", "status"}).code, 0);
}

TEST_F(CliTest, LongPortNamesOpenFromTheConfigurationAndTheCommandLine) {
    // /dev/serial/by-id names are often longer than 79 characters; this one passes 255.
    const std::string folder = dir.File(std::string(120, 'd'));
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::string link =
        folder + "/usb-FTDI_FT232R_USB_UART_" + std::string(120, 'A') + "-if00-port0";
    ASSERT_GT(link.size(), 255u);
    StartRadio({"--link", link});
    std::string ini = dir.Read("ZIMPProtocol.ini");
    const size_t at = ini.find("Port=") + 5;
    Result viaOption = Zimp({"--port", link, "request", "config"});
    EXPECT_EQ(viaOption.code, 0) << viaOption.err;
    EXPECT_EQ(viaOption.out, "Buffer Length is 0x2000\n");
    ini.replace(at, ini.find('\n', at) - at, link);
    dir.Write("ZIMPProtocol.ini", ini);
    Result viaKey = Zimp({"request", "config"});
    EXPECT_EQ(viaKey.code, 0) << viaKey.err;
    EXPECT_EQ(viaKey.out, "Buffer Length is 0x2000\n");
}

TEST_F(CliTest, FileCommands) {
    auto img = Image();
    Result conv = Zimp({"convert", img, "out.s37", "--type", "S3"});
    EXPECT_EQ(conv.code, 0) << conv.err;
    std::string s3 = dir.Read("out.s37");
    EXPECT_EQ(s3.substr(0, 2), "S0");
    EXPECT_NE(s3.find("\r\nS3250000100000"), std::string::npos);
    EXPECT_NE(s3.find("S70500000000FA\r\n"), std::string::npos);
    Result narrow = Zimp({"convert", dir.Write("hi.s28", "S2080100000102030AE6\nS9030000FC\n"),
                          "x.s19", "--type", "S1"});
    EXPECT_EQ(narrow.code, 1);
    EXPECT_EQ(narrow.err, "The record at address 10000 does not fit an S1 file.\n");

    std::string text(5000, 'a');
    for (size_t i = 0; i < text.size(); i += 7)
        text[i] = static_cast<char>('a' + i % 26);
    Result packed = Zimp({"compress"}, text);
    EXPECT_EQ(packed.code, 0);
    EXPECT_LT(packed.out.size(), text.size());
    Result unpacked = Zimp({"decompress"}, packed.out);
    EXPECT_EQ(unpacked.out, text);
    Result corrupt = Zimp({"decompress"}, std::string("\0\0\0\0\xFF\xFF\x01", 7));
    EXPECT_EQ(corrupt.code, 1);
    EXPECT_EQ(corrupt.err, "Compressed data is corrupt.\n");

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"info", "nope.s19"}, {"convert", "nope.s19", "out.s19"}}) {
        Result missing = Zimp(args);
        EXPECT_EQ(missing.code, 1);
        EXPECT_EQ(missing.err, "Cannot open file nope.s19: No such file or directory.\n");
    }
    Result folder = Zimp({"info", dir.path()});
    EXPECT_EQ(folder.err, "Cannot open file " + dir.path() + ": Is a directory.\n");
    Result intoFolder = Zimp({"convert", img, dir.path()});
    EXPECT_EQ(intoFolder.code, 1);
    EXPECT_EQ(intoFolder.err, "Cannot open file " + dir.path() + ": Is a directory.\n");
    Result wrong = Zimp({"info", dir.Write("text.txt", "hello\n")});
    EXPECT_EQ(wrong.code, 1);
    EXPECT_EQ(wrong.err.rfind("Error in line 1", 0), 0u) << wrong.err;
}

// A save with nothing to read, or no port to read it from, touches no file and fails.
TEST_F(CliTest, SaveWithNothingToReadIsRefused) {
    StartRadio();
    const std::string ini = dir.Read("ZIMPProtocol.ini");
    const std::string previous = "S00600004844521B\r\nS9030000FC\r\n";
    const std::string nothing =
        "Nothing to save: section [SaveFlash] has no Range1 whose start is below its end.\n";
    struct Case {
        const char* section;
        std::vector<std::string> global;
        std::string err;
    } cases[] = {
        {"[SaveFlash]\nType=S2\n", {}, nothing},
        {"[SaveFlash]\nType=S2\nRange1=0x10,0xF\n", {}, nothing},
        {"[SaveFlash]\nType=S2\nRange1=0x10,0x1F\n",
         {"--port", "/dev/nonexistent"},
         "Cannot open port /dev/nonexistent: No such file or directory.\n"
         "Port is not open or its handler is bad.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section);
        dir.Write("ZIMPProtocol.ini", ini + c.section);
        const std::string keep = dir.Write("keep.s28", previous);
        std::vector<std::string> args = c.global;
        args.insert(args.end(), {"save", "flash", keep});
        Result r = Zimp(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(dir.Read("keep.s28"), previous);
        EXPECT_FALSE(std::filesystem::exists(keep + ".partial"));
    }
}

// A FIFO is written into, never replaced; "-" is standard output, for save and convert alike.
TEST_F(CliTest, SpecialOutputsAreWrittenInto) {
    StartRadio();
    auto img = Image();
    Result load = Zimp({"load", "ram", img});
    ASSERT_EQ(load.code, 0) << load.err;

    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string fromFifo;
    std::thread reader([&] {
        const int fd = open(fifo.c_str(), O_RDONLY);
        char buf[4096];
        for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0;)
            fromFifo.append(buf, static_cast<size_t>(n));
        if (fd >= 0)
            close(fd);
    });
    Result intoFifo = Zimp({"convert", img, fifo});
    reader.join();
    EXPECT_EQ(intoFifo.code, 0) << intoFifo.err;
    EXPECT_EQ(fromFifo.rfind("S00C0000", 0), 0u) << fromFifo;
    EXPECT_NE(fromFifo.find("S9030000FC\r\n"), std::string::npos);
    struct stat st;
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced by a file";

    Result converted = Zimp({"convert", img, "-"});
    EXPECT_EQ(converted.code, 0) << converted.err;
    EXPECT_EQ(converted.out, fromFifo);
    Result saved = Zimp({"save", "ram", "/dev/stdout", "--range", "0x1000,0x1027"});
    EXPECT_EQ(saved.code, 0) << saved.err;
    EXPECT_EQ(saved.out.rfind("S0130000", 0), 0u) << saved.out;
    EXPECT_NE(saved.out.find("S1231000000102030405"), std::string::npos);
    EXPECT_EQ(saved.err, "saved ram to /dev/stdout\n") << "the summary stays out of the file";
    EXPECT_FALSE(std::filesystem::exists(dir.File("-")));
}

TEST_F(CliTest, UsageErrorsExitTwo) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"load"},
                                               {"load", "rom", "x.s19"},
                                               {"load", "ram", "x", "--checksum", "middle"},
                                               {"load", "ram", "x", "--fill", "1G"},
                                               {"save", "ram"},
                                               {"request", "fly"},
                                               {"nonsense"},
                                               {"--factor", "0", "ports"}}) {
        Result r = Zimp(args);
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_FALSE(r.err.empty()) << args[0];
    }
    Result help = Zimp({"load", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("usage: zimp load"), std::string::npos);
}

TEST_F(CliTest, OptionsAreNamedInTheirMessages) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::string img = Image();
    for (const Case& c : std::vector<Case>{
             {{"--bogus", "ports"},
              "zimp: unknown or incomplete option '--bogus' (see zimp --help)\n"},
             {{"--port"}, "zimp: unknown or incomplete option '--port' (see zimp --help)\n"},
             {{"--factor=0", "ports"},
              "zimp: --factor takes a number from 1 to 1024 (see zimp --help)\n"},
             {{"--baud", "9600", "--baud", "x", "ports"},
              "zimp: --baud takes a number from 60 to 10000000 (see zimp --help)\n"},
             {{"load", "ram", img, "--bias"},
              "zimp: load: unknown or incomplete option '--bias'\n"},
             {{"load", "ram", img, "-"},  // "-" is an operand, standard output
              "zimp: load takes MEMORY and FILE (see zimp load --help)\n"},
             {{"load", "ram", img, "--align=x"},
              "zimp: --align takes a number from 1 to 16777216\n"},
             {{"save", "ram", "f", "--range", "0,1", "--range", "1"},
              "zimp: --range takes START,END\n"},
             {{"info", "--x", img}, "zimp: info: unknown option '--x'\n"},
             {{"convert", img, "out", "--type=S4"}, "zimp: --type takes S1, S2 or S3\n"},
             {{"convert", img, "out", "--type=", "S1"}, "zimp: --type takes S1, S2 or S3\n"},
             {{"load", "ram", img, "--verify=1"},
              "zimp: load: unknown or incomplete option '--verify=1'\n"},
             {{"boot", "--rate"}, "zimp: boot: unknown or incomplete option '--rate'\n"},
             {{"raw", "00", "--listen", "x"}, "zimp: --listen takes 0 to 600000 ms\n"},
             {{"ports", "--x"}, "zimp: ports takes no arguments\n"},
         }) {
        Result r = Zimp(c.args);
        EXPECT_EQ(r.code, 2) << c.args[0];
        EXPECT_EQ(r.err, c.err);
    }
}

TEST_F(CliTest, OptionValuesTakeBothFormsAndTheLastOneCounts) {
    const std::string img = Image();
    Result conv = Zimp({"convert", img, "out.s37", "--type", "S1", "--type=s3"});
    EXPECT_EQ(conv.code, 0) << conv.err;
    EXPECT_NE(dir.Read("out.s37").find("\r\nS3"), std::string::npos);
    // The later of --patch/--no-patch and of --vintrel/--ambrel is what is written back.
    for (bool patchLast : {false, true}) {
        dir.Write("ZIMPProtocol.ini", "");
        std::vector<std::string> args = {"tqv-boot",   img,         "--patch", img,
                                         "--no-patch", "--vintrel", "--ambrel"};
        if (patchLast)
            args = {"tqv-boot", img, "--no-patch", "--patch=" + img, "--ambrel", "--vintrel"};
        Zimp(args);
        const std::string ini = dir.Read("ZIMPProtocol.ini");
        EXPECT_NE(ini.find(patchLast ? "DisablePatch=0" : "DisablePatch=1"), std::string::npos)
            << ini;
        EXPECT_NE(ini.find(patchLast ? "ProcessorType=1" : "ProcessorType=0"), std::string::npos)
            << ini;
    }
    Result help = Zimp({"--quiet", "save", "ram", "f", "--range", "1", "-h"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind("usage: zimp save", 0), 0u);
}

TEST_F(CliTest, BootLoadThroughTheBootstrap) {
    StartRadio({"--mode", "boot"});
    auto prog = dir.Write("p.s19", "S1061000010203E3\nS9030000FC\n");
    Result ok = Zimp({"boot", prog, "--rate", "9600"});
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(ok.out, "echo: 3 of 3 bytes\n");
    EXPECT_NE(Dump().find("\"received\": \"010203\""), std::string::npos);
}

TEST_F(CliTest, BootLoadReportsAWrongEcho) {
    StartRadio({"--mode", "boot", "--corrupt-at", "1"});
    auto prog = dir.Write("p.s19", "S1061000010203E3\nS9030000FC\n");
    Result bad = Zimp({"boot", prog, "--rate", "9600"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.err, "Error at position 1.\nIf position more than 100 don't take care.\n");
    Result rate = Zimp({"boot", prog, "--rate", "20"});
    EXPECT_EQ(rate.code, 2);
    EXPECT_EQ(rate.err, "Please enter an integer between 50 and 115200.\n");
}

TEST_F(CliTest, BootLoadFailsOnAShortEchoAndRefusesALongProgram) {
    StartRadio({"--mode", "boot", "--echo-limit", "2"});
    auto prog = dir.Write("p.s19", "S1061000010203E3\nS9030000FC\n");
    Result shortEcho = Zimp({"boot", prog, "--rate", "9600"});
    EXPECT_EQ(shortEcho.code, 1);
    EXPECT_EQ(shortEcho.err, "Echo stopped after 2 of 3 bytes.\n");
    EXPECT_EQ(shortEcho.out, "echo: 2 of 3 bytes\n");
    // 1 byte at 0x1000 and 1 at 0x17D0: 2001 bytes from first to last.
    auto big = dir.Write("big.s19", "S104100001EA\nS10417D00212\nS9030000FC\n");
    Result tooLong = Zimp({"boot", big, "--rate", "9600"});
    EXPECT_EQ(tooLong.code, 1);
    EXPECT_EQ(tooLong.err,
              "Boot program '" + big + "' is 2001 bytes long; the limit is 2000 bytes.\n");
    EXPECT_NE(Dump().find("\"received\": \"010203\""), std::string::npos)
        << "nothing more was sent";
}

TEST_F(CliTest, TqvBootWritesItsSettingsBack) {
    StartRadio({"--mode", "tqv", "--vintrel"});
    auto prog = dir.Write("p.s19", "S1061000010203E3\nS9030000FC\n");
    // Given relative to where zimp runs, stored whole.
    Result r = Zimp({"tqv-boot", "p.s19", "--no-patch", "--vintrel", "--tqv-factor", "2",
                     "--header-rate", "19200", "--data-rate", "115200"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "blocks acknowledged: 1\n");
    std::string ini = dir.Read("ZIMPProtocol.ini");
    EXPECT_NE(ini.find("[TqvBootLoad]\nFile=" + prog +
                       "\nBaudRate=19200\nDisablePatch=1\n"
                       "ProcessorType=1\nDataBaudRate=115200\nTQVFactor=2\n"),
              std::string::npos)
        << ini;
    std::string dump = Dump();
    EXPECT_NE(dump.find("\"handshakes\": 1"), std::string::npos);
    EXPECT_NE(dump.find("\"address\": 4096, \"length\": 3, \"factor\": 2, \"checksum_ok\": true"),
              std::string::npos)
        << dump;
}

TEST_F(CliTest, RawCommandsShowWhatComesBack) {
    StartRadio();
    Result r = Zimp({"raw", " F113 ", "--listen", "1000"});
    EXPECT_EQ(r.code, 0) << r.err;
    // The acknowledgement, then the "Configuration" reply F4 82 20 00 and its checksum.
    EXPECT_EQ(r.out.substr(0, 2), "50") << r.out;
    EXPECT_NE(r.out.find("f4822000"), std::string::npos) << r.out;
    Result refused = Zimp({"raw", "F1130"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_EQ(refused.err, "The number of caracters must be even\n");
    Result tooLong = Zimp({"raw", std::string(256, 'A')});
    EXPECT_EQ(tooLong.code, 2);
    EXPECT_EQ(tooLong.err, "Number of caracters must be less than 255\n");
    std::string dump = Dump();
    EXPECT_NE(dump.find("\"opcode\": 61715"), std::string::npos) << "F1 13 reached the radio";
}

TEST_F(CliTest, InfoWarnsAboutCrossingBlocksAndStillSucceeds) {
    // 0x1000-0x1003 and 0x1002-0x1003 overlap.
    auto file = dir.Write("x.s19", "S107100001020304DE\nS1051002AAAA94\nS9030000FC\n");
    Result r = Zimp({"info", file});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("Warning!!!\n There are crossing of two blocks.\n", 0), 0u) << r.err;
    EXPECT_NE(r.out.find("total length: "), std::string::npos);
}

// A save that does not complete never touches the file it would replace; what it read is kept
// beside it under a name no one takes for a complete file.
TEST_F(CliTest, SaveNeverDestroysThePreviousFile) {
    struct Case {
        const char* name;
        std::vector<std::string> radioOptions;  // empty: no radio at all
        int signal;                             // sent once the save has begun, or 0
        int code;
        int partial;         // 1 kept, 0 none, -1 either (a signal may come before the first read)
        bool twice = false;  // the signal comes again at once, as supervisors send it
    };
    const std::vector<Case> cases = {
        {"port missing", {}, 0, 1, 0},
        {"radio silent", {"--silent-after", "0"}, 0, 1, 0},
        {"radio stops midway", {"--silent-after", "2"}, 0, 1, 1},
        {"hang-up midway", {"--silent-after", "2"}, SIGHUP, 130, -1},
        {"terminated midway", {"--silent-after", "2"}, SIGTERM, 130, -1},
        {"killed midway", {"--silent-after", "2"}, SIGKILL, 128 + SIGKILL, 0},
        {"terminated twice midway", {"--silent-after", "2"}, SIGTERM, 130, 1, true},
        {"interrupted twice midway", {"--silent-after", "2"}, SIGINT, 130, 1, true},
    };
    const std::string previous = "S00600004844521B\r\nS10B10202021222324252627A8\r\nS9030000FC\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.radioOptions.empty())
            dir.Write("ZIMPProtocol.ini", "[configuration]\nPort=" + dir.File("no-such-tty") +
                                              "\nBaudrate=9600\n[SaveRAM]\nType=S1\n");
        else
            StartRadio(c.radioOptions);
        std::string keep = dir.Write("keep.s19", previous);
        std::remove((keep + ".partial").c_str());
        Subprocess p({ZIMP_CLI, "--config", dir.File("ZIMPProtocol.ini"), "save", "ram", keep,
                      "--range", "0x1000,0x11FF"},
                     dir.path());
        p.CloseInput();
        if (c.signal != 0) {
            // The temporary file is open once the save has begun (the signals are taken by
            // then); the save then waits for the radio that went silent. It has no name where
            // the file system allows, so it is found among the process's descriptors.
            auto begun = [&] {
                std::error_code ec;
                const auto fds = "/proc/" + std::to_string(p.Pid()) + "/fd";
                for (const auto& e : std::filesystem::directory_iterator(fds, ec)) {
                    const std::string to = std::filesystem::read_symlink(e.path(), ec).string();
                    if (to.rfind(dir.path() + "/", 0) == 0 && to != keep &&
                        to.find(".partial") == std::string::npos)
                        return true;
                }
                return false;
            };
            for (int i = 0; i < 1000 && !begun(); ++i)
                usleep(5000);
            if (c.twice) {
                usleep(300000);  // the two reads the radio answers are done; it waits for more
                p.Signal(c.signal);
            }
            p.Signal(c.signal);
        }
        EXPECT_EQ(p.Wait(), c.code) << p.err;
        EXPECT_EQ(dir.Read("keep.s19"), previous);
        std::string partial = dir.Read("keep.s19.partial");
        if (c.partial == 1 || (c.partial == -1 && !partial.empty())) {
            EXPECT_EQ(partial.rfind("S0130000", 0), 0u) << partial;
            EXPECT_NE(partial.find("\nS1231000"), std::string::npos) << "first record kept";
            EXPECT_EQ(partial.find("S9"), std::string::npos) << "no termination record";
            EXPECT_NE(p.err.find("kept in " + keep + ".partial."), std::string::npos) << p.err;
        } else if (c.partial == 0) {
            EXPECT_TRUE(partial.empty());
        }
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            EXPECT_EQ(e.path().string().find(".tmp."), std::string::npos) << e.path();
        radio.reset();
    }
}

// Output that cannot be written is a failure with its reason, never a success, and a file being
// replaced stays as it was.
TEST_F(CliTest, WriteFailuresAreReportedAndLoseNothing) {
    const std::string zimp = std::string(ZIMP_CLI) + " --config " + dir.File("ZIMPProtocol.ini");
    std::string big;
    for (int i = 0; i < 200; ++i) {
        char line[80];
        std::snprintf(line, sizeof line, "S113%04X000102030405060708090A0B0C0D0E0F", i * 16);
        uint32_t sum = 0x13 + ((i * 16) >> 8) + ((i * 16) & 0xFF) + 120;
        std::snprintf(line + 40, sizeof line - 40, "%02X\n", 255 - (sum & 0xFF));
        big += line;
    }
    std::string in = dir.Write("in.s19", big);
    std::string old = dir.Write("out.s19", "old contents\n");
    struct Case {
        const char* name;
        std::string shell;
        std::string err;  // expected at the start of stderr
    };
    const std::vector<Case> cases = {
        // A file size limit stands in for a full disk: the write fails with EFBIG.
        {"convert past the size limit",
         "trap '' XFSZ; ulimit -f 4; exec " + zimp + " convert " + in + " " + old,
         "Cannot write file " + old + ": File too large.\n"},
        {"info into a full stdout", "exec " + zimp + " info " + in + " > /dev/full",
         "Cannot write standard output: No space left on device.\n"},
        {"compress into a full stdout", "exec " + zimp + " compress < " + in + " > /dev/full",
         "Cannot write standard output: No space left on device.\n"},
        {"compress over its limit", "head -c 17000000 /dev/zero | " + zimp + " compress",
         "The input is larger than 16 MiB; it was not processed.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Subprocess p({"/bin/sh", "-c", c.shell}, dir.path());
        p.CloseInput();
        EXPECT_EQ(p.Wait(), 1) << p.err;
        EXPECT_EQ(p.err, c.err);
        EXPECT_EQ(dir.Read("out.s19"), "old contents\n");
    }
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().string().find(".tmp."), std::string::npos) << e.path();
    Subprocess ok({"/bin/sh", "-c", zimp + " convert " + in + " " + old}, dir.path());
    EXPECT_EQ(ok.Wait(), 0) << ok.err;
    EXPECT_EQ(dir.Read("out.s19").rfind("S00C0000436F6E766572746564", 0), 0u);
}

// The simulator's dump replaces an earlier one only when written whole.
TEST_F(CliTest, SimulatorDumpThatCannotBeWrittenKeepsTheEarlierOne) {
    const std::string old = dir.Write("dump.json", "earlier dump\n");
    Subprocess sim(
        {"/bin/sh", "-c",
         "trap '' XFSZ; ulimit -f 0; exec " + std::string(ZIMP_RADIO_SIM) + " --dump " + old});
    ASSERT_FALSE(sim.WaitForLine("PTY ").empty()) << sim.err;
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 1);
    EXPECT_NE(sim.err.find("cannot write " + old), std::string::npos) << sim.err;
    EXPECT_EQ(dir.Read("dump.json"), "earlier dump\n");
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().string().find(".tmp."), std::string::npos) << e.path();
}

TEST_F(CliTest, ConfigurationIsCheckedBeforeItIsUsed) {
    StartRadio();
    const std::string good = dir.Read("ZIMPProtocol.ini");
    auto withValue = [&](const std::string& section, const std::string& key,
                         const std::string& value) {
        std::string text = good;
        size_t at = text.find(key + "=");
        if (at != std::string::npos)
            text.erase(at, text.find('\n', at) + 1 - at);
        return text + "[" + section + "]\n" + key + "=" + value + "\n";
    };
    // Whatever the fault, one rule: the value is reported with its section, key and text,
    // nothing is sent, and the exit status is 2.
    const std::string octal = " (a leading 0 means octal)";
    struct Case {
        const char* section;
        const char* key;
        const char* value;
        std::string fault;  // after "is not a number"
    };
    for (const Case& c : std::vector<Case>{
             {"configuration", "Baudrate", "99999999999", " from 60 to 10000000"},
             {"configuration", "Baudrate", "115200abc", " from 60 to 10000000"},
             {"configuration", "Baudrate", "abc", " from 60 to 10000000"},
             {"configuration", "Baudrate", "09600", " from 60 to 10000000" + octal},
             {"configuration", "Baudrate", "0115200", " from 60 to 10000000" + octal},
             {"configuration", "BaudrateFactor", "-1", " from 1 to 1024"},
             {"configuration", "BaudrateFactor", "abc", " from 1 to 1024"},
             {"configuration", "Echo", "yes", ""},
             {"LoadMemory", "BlockSize", "8250", " from 0 to 8192"},
             {"LoadMemory", "BlockSize", "-1", " from 0 to 8192"},
             {"LoadMemory", "BlockSize", "99999999999", " from 0 to 8192"},
             {"LoadMemory", "BlockSize", "abc", " from 0 to 8192"},
         }) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        dir.Write("ZIMPProtocol.ini", withValue(c.section, c.key, c.value));
        Result r = Zimp({"load", "ram", Image()});
        EXPECT_EQ(r.code, 2) << r.err;
        const std::string report = std::string("The value \"") + c.value + "\" of " + c.key +
                                   " in section [" + c.section + "] is not a number" + c.fault +
                                   ".\n";
        EXPECT_EQ(r.err.rfind(report, 0), 0u) << r.err;  // then the load's own words
    }
    EXPECT_EQ(Dump().find("\"opcode\""), std::string::npos) << "nothing was sent";

    // A mistyped --config is not created; a huge or endless one is refused.
    for (const std::string& config : {dir.File("typo.ini"), std::string("/dev/zero")}) {
        Subprocess p({ZIMP_CLI, "--config", config, "request", "status"}, dir.path());
        p.CloseInput();
        EXPECT_EQ(p.Wait(), 2) << config;
        EXPECT_EQ(p.err.rfind("zimp: configuration file " + config, 0), 0u) << p.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("typo.ini")));
}

// The bias moves the load and the verify alike: the bytes land, and are read back, at the
// file's addresses plus the bias.
TEST_F(CliTest, VerifyAfterABiasedLoadReadsTheBiasedAddresses) {
    StartRadio();
    Result r = Zimp({"load", "ram", Image(), "--bias", "2000", "--verify"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("(verified)"), std::string::npos) << r.out;
    std::string dump = Dump();
    // RAM holds the 40 bytes at 0x803000 (8400896), and they are all it holds.
    EXPECT_NE(dump.find("[\n      {\"address\": 8400896, \"length\": 40, \"data\": \"000102"),
              std::string::npos)
        << dump;
    // Read requests (0xF511) at 0x803000: the verify asked the biased addresses.
    EXPECT_NE(dump.find("\"opcode\": 62737, \"name\": \"Read\", \"address\": 8400896, "
                        "\"length\": 40"),
              std::string::npos)
        << dump;
    EXPECT_EQ(dump.find("\"address\": 8392704, \"length\": 40"), std::string::npos)
        << "nothing read at the unbiased address";
}

// A hex value of load outside its range is refused before anything is sent, in one line that
// names the option and its range; the limits themselves are taken.
TEST_F(CliTest, LoadRefusesHexAndCountValuesOutOfTheirRanges) {
    StartRadio();
    const std::string img = Image();
    const std::string address = "zimp: --checksum address=HEX takes an address from 0 to FFFFFF\n";
    const std::string bias = "zimp: --bias takes a hex number from 0 to FFFFFF\n";
    const std::string fill = "zimp: --fill takes a hex byte from 0 to FF\n";
    const std::string block = "zimp: --checksum block=N takes N from 0 to 100000\n";
    const std::string align = "zimp: --align takes a number from 1 to 16777216\n";
    struct Case {
        std::vector<std::string> options;
        std::string err;
    };
    for (const Case& c : std::vector<Case>{
             {{"--checksum", "address="}, address},
             {{"--checksum", "address=1000000"}, address},
             {{"--checksum", "address=FFFFFFFF"}, address},
             {{"--bias", "1000000000"}, bias},
             {{"--bias", "0x1000000"}, bias},
             {{"--bias", ""}, bias},
             {{"--fill", "100"}, fill},
             {{"--fill", "-1"}, fill},
             {{"--checksum", "block=100001"}, block},
             {{"--checksum", "block="}, block},
             {{"--align", "0"}, align},
             {{"--align", "16777217"}, align},
             {{"--align", "x"}, align},
         }) {
        std::vector<std::string> args = {"load", "ram", img};
        args.insert(args.end(), c.options.begin(), c.options.end());
        Result r = Zimp(args);
        EXPECT_EQ(r.code, 2) << c.options[0] << " " << c.options[1];
        EXPECT_EQ(r.err, c.err) << c.options[1];
    }
    EXPECT_EQ(Dump().find("\"opcode\""), std::string::npos) << "nothing was sent";

    // At their limits the values pass the checks and the load goes on to the port.
    dir.Write("ZIMPProtocol.ini", "[configuration]\nPort=" + dir.File("no-such-tty") +
                                      "\nBaudrate=9600\n[LoadMemory]\nBlockSize=64\n");
    for (const auto& options : std::vector<std::vector<std::string>>{
             {"--checksum", "address=FFFFFF"},
             {"--checksum", "address=0x0"},
             {"--bias", "0xFFFFFF"},
             {"--fill", "0"},
             {"--fill", "0xff"},
             {"--checksum", "block=100000"},
             {"--align", "16777216"},
             {"--align", "1"},
         }) {
        std::vector<std::string> args = {"--quiet", "load", "ram", img};
        args.insert(args.end(), options.begin(), options.end());
        Result r = Zimp(args);
        EXPECT_EQ(r.code, 1) << options[1] << ": " << r.err;
        EXPECT_EQ(r.err.rfind("Cannot open port ", 0), 0u) << options[1] << ": " << r.err;
    }
}

// Numbers given as options are decimal, whatever their leading zeros, or hex after 0x.
TEST_F(CliTest, OptionNumbersAreDecimalUnlessTheyCarry0x) {
    const std::string img = Image();
    struct Case {
        std::vector<std::string> args;
        std::string err;  // empty: taken
    };
    for (const Case& c : std::vector<Case>{
             {{"--baud", "070"}, ""},  // octal would be 56, below the least rate
             {{"--baud", "0x1C200"}, ""},
             {{"--factor", "02000"},
              "zimp: --factor takes a number from 1 to 1024 (see zimp --help)\n"},
             {{"--factor", "0x400"}, ""},
             {{"--block-size", "010000"},
              "zimp: --block-size takes a number from 1 to 8192 (see zimp --help)\n"},
             {{"--response-timeout", "0200000"},
              "zimp: --response-timeout takes 1 to 86400 seconds (see zimp --help)\n"},
             {{"--response-timeout", "0x"},
              "zimp: --response-timeout takes 1 to 86400 seconds (see zimp --help)\n"},
         }) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"info", img});
        Result r = Zimp(args);
        EXPECT_EQ(r.code, c.err.empty() ? 0 : 2) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(r.err, c.err) << c.args[1];
    }

    // The override reaches the load as the number it was read as: blocks of 100 bytes, not 64.
    StartRadio();
    auto five = RecordsFile("five.s19", 5);  // 160 bytes, then a table of 12
    Result load = Zimp({"--block-size", "0100", "--quiet", "load", "ram", five, "--align", "0x1",
                        "--checksum", "block=0x0"});
    EXPECT_EQ(load.code, 0) << load.err;
    Result read = Zimp({"request", "read", "801000", "0x3"});
    EXPECT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(read.out, "000102\n");
    Result raw = Zimp({"raw", "F113", "--listen", "0x1F4"});
    EXPECT_EQ(raw.code, 0) << raw.err;
    const std::string dump = Dump();
    EXPECT_NE(dump.find("\"address\": 8392704, \"length\": 100"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\"address\": 8392804, \"length\": 72"), std::string::npos)
        << "the rest and the table: " << dump;
    EXPECT_NE(dump.find("\"opcode\": 61715"), std::string::npos) << "the raw request was sent";
}

TEST_F(CliTest, BootRatesAreDecimalOrHexAfter0x) {
    StartRadio({"--mode", "boot"});
    auto prog = dir.Write("p.s19", "S1061000010203E3\nS9030000FC\n");
    Result ok = Zimp({"boot", prog, "--rate", "0x2580"});
    EXPECT_EQ(ok.code, 0) << ok.err;
    Result tqv = Zimp({"tqv-boot", prog, "--header-rate", "0x", "--no-patch"});
    EXPECT_EQ(tqv.code, 2);
    EXPECT_EQ(tqv.err, "zimp: rates and the factor take numbers\n");
}

// The README's try-it configuration names only the port, the rate and the debug level: a load
// then uses blocks of the documented default size.
TEST_F(CliTest, ConfigurationWithoutBlockSizeLoadsInDefaultBlocks) {
    StartRadio();
    const std::string ini = dir.Read("ZIMPProtocol.ini");
    const size_t at = ini.find("Port=");
    dir.Write("ZIMPProtocol.ini", "[configuration]\n" +
                                      ini.substr(at, ini.find('\n', at) + 1 - at) +
                                      "Baudrate=115200\nDebugLevel=1\n");
    Result r = Zimp({"--quiet", "load", "ram", RecordsFile("big.s19", 40)});  // 1280 bytes
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string dump = Dump();
    EXPECT_NE(dump.find("\"address\": 8392704, \"length\": 1024"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\"address\": 8393728, \"length\": 256"), std::string::npos) << dump;
}

// A program named in the configuration by a path past 255 characters is the one loaded; a
// name past the system's path limit is reported and nothing is sent.
TEST_F(CliTest, LongFileNamesInTheConfigurationAreTakenWhole) {
    StartRadio({"--mode", "boot"});
    const std::string folder = std::string(200, 'd');
    ASSERT_TRUE(std::filesystem::create_directory(dir.File(folder)));
    const std::string prog =
        dir.Write(folder + "/" + std::string(100, 'p') + ".s19", "S1061000010203E3\nS9030000FC\n");
    ASSERT_GT(prog.size(), 300u);
    const std::string ini = dir.Read("ZIMPProtocol.ini");
    dir.Write("ZIMPProtocol.ini", ini + "[BootLoad]\nFile=" + prog + "\nBaudrate=9600\n");
    Result ok = Zimp({"boot"});
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(ok.out, "echo: 3 of 3 bytes\n");

    dir.Write("ZIMPProtocol.ini",
              ini + "[BootLoad]\nFile=" + std::string(PATH_MAX, 'f') + "\nBaudrate=9600\n");
    Result refused = Zimp({"boot"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_EQ(refused.err.rfind("The value of File in section [BootLoad] is longer than " +
                                    std::to_string(PATH_MAX - 1) + " characters; it is not used.\n",
                                0),
              0u)
        << refused.err;
    EXPECT_NE(Dump().find("\"received\": \"010203\""), std::string::npos) << "the first load only";
}

// The trace a user sends with a report: every frame of the load, the NAKs and retries among
// them, also when the load fails; the boot loader's bytes go in raw.
TEST_F(CliTest, TraceOfLoadsAndBootLoadsReadsBackWithItsSummary) {
    const struct {
        std::vector<std::string> radio;
        std::vector<std::string> command;
        int code;
        std::vector<std::string> shown;  // in the output of trace show
    } cases[] = {
        {{"--nak", "1"},
         {"load", "flash", "IMAGE"},
         0,
         {"> request Write Data (48): FF 17 00 2C 40 10 00 00 01", "< NAK (1): 4E",
          "< reply Written (", "retries: 1\n", "1 NAKs"}},
        {{"--nak", "4"}, {"load", "flash", "IMAGE"}, 1, {"retries: 3\n", "4 NAKs"}},
        {{"--mode", "boot"},
         {"boot", "PROGRAM", "--rate", "9600"},
         0,
         {"> raw (1): FF", "0 requests", "raw runs"}},
    };
    for (const auto& c : cases) {
        StartRadio(c.radio);
        const std::string image = Image();
        const std::string program = dir.Write("p.s19", "S1061000010203E3\nS9030000FC\n");
        std::vector<std::string> args = {"--quiet", "--trace", dir.File("run.trace")};
        for (const std::string& a : c.command)
            args.push_back(a == "IMAGE" ? image : a == "PROGRAM" ? program : a);
        const Result run = Zimp(args);
        EXPECT_EQ(run.code, c.code) << run.err;
        const Result shown = Zimp({"trace", "show", dir.File("run.trace")});
        EXPECT_EQ(shown.code, 0) << shown.err;
        for (const std::string& want : c.shown)
            EXPECT_NE(shown.out.find(want), std::string::npos) << want << " in\n"
                                                               << shown.out << "\nof\n"
                                                               << dir.Read("run.trace");
    }
    EXPECT_EQ(Zimp({"trace", "show", Image()}).code, 1);  // no trace line in it
    const Result refused = Zimp({"--trace", dir.File("no/such/dir/t"), "request", "status"});
    EXPECT_EQ(refused.code, 2);
}
