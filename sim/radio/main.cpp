// zimp-radio-sim: a simulated radio on a pseudo-terminal, for the program and its tests.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/BoundedRead.h"
#include "platform/PseudoTerminal.h"
#include "platform/ReplacementFile.h"
#include "sim/SimCommandLine.h"
#include "sim/radio/BootRadio.h"
#include "sim/radio/RadioSimulator.h"
#include "sim/radio/TqvRadio.h"
#include "sim/radio/ZimpRadio.h"

namespace {

const char kHelp[] =
    "Usage: zimp-radio-sim [options]\n"
    "A simulated radio that speaks ZIMP on a pseudo-terminal. Prints \"PTY <slave path>\" on\n"
    "stdout once the line is ready; SIGTERM or SIGINT end it (the dump is written, exit 0).\n"
    "\n"
    "Line:\n"
    "  --link PATH           also make a symbolic link PATH to the slave (removed on exit)\n"
    "  --baud N              delay each answer by the time it takes on a line at N baud\n"
    "  --echo                return every received byte ahead of the answer\n"
    "  --idle-ms N           drop a partial request after N ms of silence (default 500)\n"
    "  --mode MODE           what the radio speaks: zimp (default), boot or tqv\n"
    "Radio:\n"
    "  --buffer-length N     buffer length in the \"Configuration\" reply (default 0x2000)\n"
    "  --load FILE           preload the memories from a dump file (its \"memories\" part)\n"
    "  --dump FILE           on exit write memories, requests and end-of-load markers as JSON\n"
    "  --dump-times          each request in the dump also gets \"arrived_ms\" (its first byte)\n"
    "                        and, when NAKed, \"nak_sent_ms\" (the NAK's write), in ms on the\n"
    "                        simulator's monotonic clock\n"
    "Faults:\n"
    "  --nak N               NAK (0x4E) the first N \"Write Data\" requests\n"
    "  --nak-every K         NAK every K-th request of any kind\n"
    "  --bad-write-at ADDR   a write covering ADDR is not stored and answered 0xF485 with ADDR\n"
    "  --silent-after N      answer the first N requests, then nothing at all\n"
    "  --wrong-opcode-at N   the N-th request is answered with the unknown opcode 0x87\n"
    "  --short-read          \"Read\" replies carry one data byte fewer than asked for\n"
    "  --no-write-response   \"Write Data\", \"Erase Flash\" and \"Zero Flash\" are acknowledged\n"
    "                        (and carried out) but never answered with a write response\n"
    "  --decompress          \"Write Data\" payloads are LZRW3-A buffers: stored decompressed,\n"
    "                        a malformed one answered 0xF485 (how compressed loads are checked)\n"
    "Boot mode (the controller's serial bootstrap: after 0xFF, every byte is echoed):\n"
    "  --corrupt-at N        the echo of program byte N (from 0) is altered\n"
    "  --echo-limit N        only the first N program bytes are echoed\n"
    "TQV mode (blocks 55 55 55 AA, address, length, factor, data, checksum):\n"
    "  --vintrel             answer \"Z\" to \"aA\" (the Vintrel rate handshake)\n"
    "  --ack BYTE            the acknowledgement of a good block (default 0x50); a block with\n"
    "                        a bad checksum is answered 0x4E; --echo returns every byte\n"
    "  --help                this text\n"
    "\n"
    "Numbers may be decimal, 0x hexadecimal or 0-prefixed octal. Requests are counted from 1,\n"
    "every frame received included. Memory codes are address bits 20-23 (0x8 RAM, 0x4 Flash,\n"
    "0 EEPROM/PELK flash); unwritten bytes read 0xFF. \"Erase Flash\" sets the whole Flash to\n"
    "0xFF and \"Zero Flash\" to 0, each answered 0xF484 with address 0x400000. The \"Status\"\n"
    "byte is 1 after the end-of-load marker (\"Write Data\" of no bytes at 0xFFFFFF), else 0,\n"
    "followed by the address of the last write.\n";

// A dump of every memory byte written is about 34 MiB; a preload is refused well above that.
constexpr size_t kMaxPreload = 64u << 20;

radio::RadioSimulator* g_simulator = nullptr;

void OnSignal(int) {
    if (g_simulator)
        g_simulator->Stop();
}

bool Number(const char* text, uint32_t& out) {
    if (text == nullptr || *text == '\0' || *text == '-')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

int Usage(const std::string& why) {
    std::cerr << "zimp-radio-sim: " << why << "\nTry --help.\n";
    return 2;
}

struct SimOptions {
    radio::ZimpRadioOptions zimp;
    radio::BootRadioOptions boot;
    radio::TqvRadioOptions tqv;
    std::string linkPath, dumpPath, loadPath, mode = "zimp";
    uint32_t baud = 0;
};

// What is said when an option's value is missing or refused.
struct TextOption {
    const char* name;
    const char* why;
    std::string* into;
};

struct NumberOption {
    const char* name;
    const char* why;
    uint32_t max;
    bool nonZero;
    std::function<void(SimOptions&, uint32_t)> set;
    const CLI::Option* given = nullptr;
    std::string text = {};
};

std::vector<NumberOption> NumberOptions() {
    using S = SimOptions;
    constexpr uint32_t kAny = 0xFFFFFFFF;
    return {
        {"--ack", "--ack needs a byte", 0xFF, false,
         [](S& s, uint32_t n) { s.tqv.ack = static_cast<uint8_t>(n); }},
        {"--corrupt-at", "--corrupt-at needs a byte position", kAny, false,
         [](S& s, uint32_t n) { s.boot.corruptAt = n; }},
        {"--echo-limit", "--echo-limit needs a count", kAny, false,
         [](S& s, uint32_t n) { s.boot.echoLimit = n; }},
        {"--baud", "--baud needs a rate from 1 to 4000000", 4000000, true,
         [](S& s, uint32_t n) { s.baud = n; }},
        {"--idle-ms", "--idle-ms needs 1 to 600000", 600000, true,
         [](S& s, uint32_t n) { s.zimp.idleMs = n; }},
        {"--buffer-length", "--buffer-length needs 0 to 0xFFFF", 0xFFFF, false,
         [](S& s, uint32_t n) { s.zimp.bufferLength = static_cast<uint16_t>(n); }},
        {"--nak", "--nak needs a count", kAny, false,
         [](S& s, uint32_t n) { s.zimp.nakFirstWrites = n; }},
        {"--nak-every", "--nak-every needs a count", kAny, false,
         [](S& s, uint32_t n) { s.zimp.nakEvery = n; }},
        {"--bad-write-at", "--bad-write-at needs an address up to 0xFFFFFF", 0xFFFFFF, false,
         [](S& s, uint32_t n) { s.zimp.badWriteAt = n; }},
        {"--silent-after", "--silent-after needs a count", kAny, false,
         [](S& s, uint32_t n) { s.zimp.silentAfter = n; }},
        {"--wrong-opcode-at", "--wrong-opcode-at needs a request number from 1", kAny, true,
         [](S& s, uint32_t n) { s.zimp.wrongOpcodeAt = n; }},
    };
}

// The usage status for the first refused value, else 0.
int TakeNumbers(const std::vector<NumberOption>& numbers, SimOptions& o) {
    for (const NumberOption& v : numbers) {
        uint32_t n = 0;
        if (v.given->count() == 0)
            continue;
        if (!Number(v.text.c_str(), n) || n > v.max || (v.nonZero && n == 0))
            return Usage(v.why);
        v.set(o, n);
    }
    if (o.mode != "zimp" && o.mode != "boot" && o.mode != "tqv")
        return Usage("--mode takes zimp, boot or tqv");
    return 0;
}

// The command line into o; -1 to go on, else the exit status.
int ParseOptions(int argc, char** argv, SimOptions& o) {
    CLI::App app;
    bool help = false;
    sim::PrepareParser(app, help, CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--echo", o.zimp.echo);
    app.add_flag("--short-read", o.zimp.shortRead);
    app.add_flag("--no-write-response", o.zimp.noWriteResponse);
    app.add_flag("--decompress", o.zimp.decompress);
    app.add_flag("--dump-times", o.zimp.dumpTimes);
    app.add_flag("--vintrel", o.tqv.vintrel);
    std::map<std::string, const char*> why;  // what a missing value is answered with
    const TextOption texts[] = {{"--link", "--link needs a path", &o.linkPath},
                                {"--dump", "--dump needs a file", &o.dumpPath},
                                {"--load", "--load needs a file", &o.loadPath},
                                {"--mode", "--mode takes zimp, boot or tqv", &o.mode}};
    for (const TextOption& t : texts) {
        app.add_option(t.name, *t.into);
        why[t.name] = t.why;
    }
    std::vector<NumberOption> numbers = NumberOptions();
    for (NumberOption& v : numbers) {
        v.given = app.add_option(v.name, v.text);
        why[v.name] = v.why;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Only a value missing after the last option gets here.
        auto it = why.find(sim::OptionOfError(e));
        return Usage(it != why.end() ? it->second : e.what());
    }
    if (help) {
        std::cout << kHelp;
        return 0;
    }
    if (!app.remaining().empty())
        return Usage("unknown option " + app.remaining().front());
    const int refused = TakeNumbers(numbers, o);
    return refused != 0 ? refused : -1;
}

// The memories of a dump file; false with the message written.
bool Preload(radio::ZimpRadio& zimp, const std::string& loadPath) {
    std::string text, error;
    const auto read = platform::ReadFileBounded(loadPath, kMaxPreload, text);
    const int readError = errno;
    if (read != platform::ReadStatus::Ok || !zimp.LoadJson(text, error)) {
        const std::string why = read == platform::ReadStatus::Ok ? error
                                : read == platform::ReadStatus::TooLarge
                                    ? "larger than " + std::to_string(kMaxPreload >> 20) + " MiB"
                                    : std::strerror(readError);
        std::cerr << "zimp-radio-sim: cannot load " << loadPath << ": " << why << "\n";
        return false;
    }
    return true;
}

// Replaces an old link left by an earlier run, never a file of another kind.
bool LinkSlave(const platform::PseudoTerminal& pty, const std::string& linkPath) {
    char target[4096];
    if (readlink(linkPath.c_str(), target, sizeof target) >= 0)
        unlink(linkPath.c_str());
    if (symlink(pty.SlavePath().c_str(), linkPath.c_str()) != 0) {
        std::cerr << "zimp-radio-sim: cannot link " << linkPath << ": " << std::strerror(errno)
                  << "\n";
        return false;
    }
    return true;
}

// Serves the line until a signal ends it; true when it ended cleanly.
bool Serve(int masterFd, radio::RadioMode& active, uint32_t baud, const std::string& slave) {
    radio::RadioSimulator simulator(masterFd, active, baud);
    g_simulator = &simulator;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::cout << "PTY " << slave << std::endl;
    const bool ok = simulator.Run();
    g_simulator = nullptr;
    return ok;
}

// A regular file (or a new one) is replaced whole, so that an earlier dump survives a failed
// write; a device or a pipe is written as it is.
bool WriteDump(radio::RadioMode& active, const std::string& dumpPath) {
    struct stat st {};
    bool written = false;
    if (stat(dumpPath.c_str(), &st) != 0 || S_ISREG(st.st_mode)) {
        std::ostringstream text;
        active.WriteDump(text);
        platform::ReplacementFile file;
        written = file.Create(dumpPath) && file.Write(text.str()) && file.Commit();
    } else {
        std::ofstream out(dumpPath, std::ios::binary);
        active.WriteDump(out);
        out.flush();
        written = static_cast<bool>(out);
    }
    if (!written)
        std::cerr << "zimp-radio-sim: cannot write " << dumpPath << "\n";
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions o;
    if (const int status = ParseOptions(argc, argv, o); status >= 0)
        return status;

    radio::ZimpRadio zimp(o.zimp);
    if (!o.loadPath.empty() && !Preload(zimp, o.loadPath))
        return 1;
    platform::PseudoTerminal pty;
    if (!pty.Open(true)) {
        std::cerr << "zimp-radio-sim: cannot open a pseudo-terminal: " << std::strerror(errno)
                  << "\n";
        return 1;
    }
    if (!o.linkPath.empty() && !LinkSlave(pty, o.linkPath))
        return 1;

    o.tqv.echo = o.zimp.echo;
    o.tqv.idleMs = o.zimp.idleMs;
    radio::BootRadio boot(o.boot);
    radio::TqvRadio tqv(o.tqv);
    radio::RadioMode& active = o.mode == "boot"  ? static_cast<radio::RadioMode&>(boot)
                               : o.mode == "tqv" ? static_cast<radio::RadioMode&>(tqv)
                                                 : static_cast<radio::RadioMode&>(zimp);
    int status = Serve(pty.MasterFd(), active, o.baud, pty.SlavePath()) ? 0 : 1;
    if (!o.dumpPath.empty() && !WriteDump(active, o.dumpPath))
        status = 1;
    if (!o.linkPath.empty())
        unlink(o.linkPath.c_str());
    return status;
}
