// zimp-radio-sim: simulated radios on pseudo-terminals, for the program and its tests; a
// production line's radios too, plugged in and out on signals.

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
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
    "stdout once the line is ready; SIGTERM or SIGINT end it (the dump is written, the link\n"
    "removed, exit 0).\n"
    "With --count there are several radios, each with a line, memories, faults and dump of its\n"
    "own, all served at once; a \"PTY\" line each, in order, once all are ready.\n"
    "A radio can be unplugged and plugged in again, as a USB adapter is: SIGUSR1 unplugs every\n"
    "radio (its dump is written, its link removed, its line hung up); SIGUSR2 plugs a fresh\n"
    "radio in on each (one still plugged in is unplugged first): a new line, the link made\n"
    "again, the memories and every count as at start, and its \"PTY\" line printed again.\n"
    "\n"
    "Line:\n"
    "  --count N             N radios, 1 to 64 (default 1); --link and --dump then need {n},\n"
    "                        which stands for the radio's number from 1\n"
    "  --unplugged           start with no radio plugged in (nothing is printed until SIGUSR2)\n"
    "  --link PATH           also make a symbolic link PATH to the slave (removed on exit and\n"
    "                        on unplugging)\n"
    "  --baud N              delay each answer by the time it takes on a line at N baud\n"
    "  --echo                return every received byte ahead of the answer\n"
    "  --idle-ms N           drop a partial request after N ms of silence (default 500)\n"
    "  --mode MODE           what the radio speaks: zimp (default), boot or tqv\n"
    "Radio:\n"
    "  --buffer-length N     buffer length in the \"Configuration\" reply (default 0x2000)\n"
    "  --load FILE           preload the memories from a dump file (its \"memories\" part), again\n"
    "                        at every plug\n"
    "  --dump FILE           on exit and on unplugging write memories, requests and end-of-load\n"
    "                        markers as JSON; {plug} in FILE stands for the plug count from 1,\n"
    "                        so that every plug keeps its dump (else each plug overwrites it)\n"
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
    "  --version             the version of zimp-radio-sim\n"
    "\n"
    "Numbers may be decimal, 0x hexadecimal or 0-prefixed octal. Requests are counted from 1,\n"
    "every frame received included. Memory codes are address bits 20-23 (0x8 RAM, 0x4 Flash,\n"
    "0 EEPROM/PELK flash); unwritten bytes read 0xFF. \"Erase Flash\" sets the whole Flash to\n"
    "0xFF and \"Zero Flash\" to 0, each answered 0xF484 with address 0x400000. The \"Status\"\n"
    "byte is 1 after the end-of-load marker (\"Write Data\" of no bytes at 0xFFFFFF), else 0,\n"
    "followed by the address of the last write.\n";

// A dump of every memory byte written is about 34 MiB; a preload is refused well above that.
constexpr size_t kMaxPreload = 64u << 20;

// Radios in one run at most: each has a line, a thread and its memories.
constexpr uint32_t kMaxRadios = 64;

// The write end of the self-pipe the signal handler puts the signal's number on; the main
// thread does the work. A 0 byte from a radio's thread says its line failed for good.
int g_signalPipe = -1;
constexpr char kLineFailed = 0;
// The main thread has nothing to do between signals; it looks again this often all the same.
constexpr int kSignalWaitMs = 1000;

void OnSignal(int sig) {
    const int saved = errno;
    const char c = static_cast<char>(sig);
    (void)!write(g_signalPipe, &c, 1);
    errno = saved;
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
    uint32_t count = 1;
    bool unplugged = false;
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
        {"--count", "--count needs 1 to 64", kMaxRadios, true,
         [](S& s, uint32_t n) { s.count = n; }},
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
    // Radios must not share a link or a dump.
    if (o.count > 1 && !o.linkPath.empty() && o.linkPath.find("{n}") == std::string::npos)
        return Usage("--link needs {n} (the radio's number) with --count above 1");
    if (o.count > 1 && !o.dumpPath.empty() && o.dumpPath.find("{n}") == std::string::npos)
        return Usage("--dump needs {n} (the radio's number) with --count above 1");
    if (o.linkPath.find("{plug}") != std::string::npos)
        return Usage("--link takes {n} only ({plug} is for --dump)");
    return 0;
}

// The command line into o; -1 to go on, else the exit status.
int ParseOptions(int argc, char** argv, SimOptions& o) {
    CLI::App app;
    bool help = false;
    bool version = false;
    sim::PrepareParser(app, help, CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--version", version);
    app.add_flag("--echo", o.zimp.echo);
    app.add_flag("--short-read", o.zimp.shortRead);
    app.add_flag("--no-write-response", o.zimp.noWriteResponse);
    app.add_flag("--decompress", o.zimp.decompress);
    app.add_flag("--dump-times", o.zimp.dumpTimes);
    app.add_flag("--vintrel", o.tqv.vintrel);
    app.add_flag("--unplugged", o.unplugged);
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
    if (version) {
        std::cout << "zimp-radio-sim " << ZIMP_VERSION << "\n";
        return 0;
    }
    if (!app.remaining().empty())
        return Usage("unknown option " + app.remaining().front());
    const int refused = TakeNumbers(numbers, o);
    return refused != 0 ? refused : -1;
}

// Reads the dump file to preload from and checks its memories; false with the message
// written. The text is kept, so that every plug starts from the file as it was at start (a
// dump of the same name may have replaced it since).
bool ReadPreload(const std::string& loadPath, std::string& text) {
    std::string error;
    radio::ZimpRadio check;
    const auto read = platform::ReadFileBounded(loadPath, kMaxPreload, text);
    const int readError = errno;
    if (read != platform::ReadStatus::Ok || !check.LoadJson(text, error)) {
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

// Every {key} in text replaced by value.
std::string Expand(std::string text, const std::string& key, uint32_t value) {
    const std::string with = std::to_string(value);
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + with.size()))
        text.replace(at, key.size(), with);
    return text;
}

// The signals the main thread acts on; the radios' threads never take them, so that their
// waits and paced writes are not cut short.
constexpr int kHandledSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2};

sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kHandledSignals)
        sigaddset(&set, sig);
    return set;
}

// One radio of the run, plugged in and out: every plug gets a new line and a fresh radio with
// the options of the run.
class Radio {
  public:
    Radio(const SimOptions& o, const std::string& preload, uint32_t number)
        : o_(o), preload_(preload), link_(Expand(o.linkPath, "{n}", number)), number_(number) {}
    ~Radio() { Unplug(); }
    Radio(const Radio&) = delete;
    Radio& operator=(const Radio&) = delete;

    // A new line, its link, and the radio served on a thread of its own; false with the
    // message written.
    bool Plug() {
        Unplug();
        ++plugs_;
        zimp_ = std::make_unique<radio::ZimpRadio>(o_.zimp);
        std::string error;
        if (!o_.loadPath.empty() && !zimp_->LoadJson(preload_, error)) {
            std::cerr << "zimp-radio-sim: cannot load " << o_.loadPath << ": " << error << "\n";
            return false;
        }
        boot_ = std::make_unique<radio::BootRadio>(o_.boot);
        tqv_ = std::make_unique<radio::TqvRadio>(o_.tqv);
        if (!pty_.Open(true)) {
            std::cerr << "zimp-radio-sim: cannot open a pseudo-terminal: " << std::strerror(errno)
                      << "\n";
            return false;
        }
        if (!link_.empty() && !LinkSlave(pty_, link_)) {
            pty_.Close();
            return false;
        }
        simulator_ = std::make_unique<radio::RadioSimulator>(pty_.MasterFd(), Active(), o_.baud);
        const sigset_t handled = HandledSignals();
        sigset_t old;
        pthread_sigmask(SIG_BLOCK, &handled, &old);
        thread_ = std::thread([this] {
            if (!simulator_->Run()) {
                failed_ = true;
                (void)!write(g_signalPipe, &kLineFailed, 1);
            }
        });
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return true;
    }

    // Stops serving, writes the dump, removes the link and then closes the line, so that a
    // client that sees the hang-up finds both done. False when the dump failed.
    bool Unplug() {
        if (!simulator_)
            return true;
        simulator_->Stop();
        thread_.join();
        simulator_.reset();
        const bool dumped =
            o_.dumpPath.empty() ||
            WriteDump(Active(), Expand(Expand(o_.dumpPath, "{n}", number_), "{plug}", plugs_));
        if (!link_.empty())
            unlink(link_.c_str());
        pty_.Close();
        zimp_.reset();
        boot_.reset();
        tqv_.reset();
        return dumped;
    }

    const std::string& SlavePath() const { return pty_.SlavePath(); }
    bool Failed() const { return failed_; }

  private:
    radio::RadioMode& Active() {
        return o_.mode == "boot"  ? static_cast<radio::RadioMode&>(*boot_)
               : o_.mode == "tqv" ? static_cast<radio::RadioMode&>(*tqv_)
                                  : static_cast<radio::RadioMode&>(*zimp_);
    }

    const SimOptions& o_;
    const std::string& preload_;
    const std::string link_;
    const uint32_t number_;
    uint32_t plugs_ = 0;
    std::unique_ptr<radio::ZimpRadio> zimp_;
    std::unique_ptr<radio::BootRadio> boot_;
    std::unique_ptr<radio::TqvRadio> tqv_;
    platform::PseudoTerminal pty_;
    std::unique_ptr<radio::RadioSimulator> simulator_;
    std::thread thread_;
    std::atomic<bool> failed_{false};
};

// All the radios of the run and what the signals do to them.
class Rack {
  public:
    Rack(const SimOptions& o, const std::string& preload) {
        for (uint32_t n = 1; n <= o.count; ++n)
            radios_.push_back(std::make_unique<Radio>(o, preload, n));
    }

    // Every radio unplugged first, then every one plugged in and its line printed once all are
    // ready; false when one could not be.
    bool PlugAll() {
        UnplugAll();
        for (auto& r : radios_)
            if (!r->Plug())
                return false;
        for (const auto& r : radios_)
            std::cout << "PTY " << r->SlavePath() << "\n";
        std::cout.flush();
        return true;
    }
    void UnplugAll() {
        for (auto& r : radios_)
            if (!r->Unplug())
                dumpFailed_ = true;
    }
    bool AnyFailed() const {
        for (const auto& r : radios_)
            if (r->Failed())
                return true;
        return false;
    }
    bool DumpFailed() const { return dumpFailed_; }

  private:
    std::vector<std::unique_ptr<Radio>> radios_;
    bool dumpFailed_ = false;
};

// Acts on the signals until one ends the run; false when a radio could not be plugged in or
// its line failed.
bool Serve(Rack& rack, int signals, bool plugged) {
    if (plugged && !rack.PlugAll())
        return false;
    for (;;) {
        pollfd p{signals, POLLIN, 0};
        if (poll(&p, 1, kSignalWaitMs) < 0 && errno != EINTR)
            return false;
        char got[64];
        const ssize_t n = read(signals, got, sizeof got);
        for (ssize_t i = 0; i < n; ++i) {
            switch (got[i]) {
                case SIGUSR1:
                    rack.UnplugAll();
                    break;
                case SIGUSR2:
                    if (!rack.PlugAll())
                        return false;
                    break;
                case kLineFailed:
                    if (rack.AnyFailed())
                        return false;
                    break;
                default:  // SIGTERM, SIGINT, SIGHUP
                    return true;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions o;
    if (const int status = ParseOptions(argc, argv, o); status >= 0)
        return status;
    std::string preload;
    if (!o.loadPath.empty() && !ReadPreload(o.loadPath, preload))
        return 1;
    o.tqv.echo = o.zimp.echo;
    o.tqv.idleMs = o.zimp.idleMs;

    int pipeFds[2];
    if (pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        std::cerr << "zimp-radio-sim: cannot make a pipe: " << std::strerror(errno) << "\n";
        return 1;
    }
    g_signalPipe = pipeFds[1];
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    // No handler interrupts another, so the pipe holds the signals in the order they came: an
    // unplug followed at once by a plug must not become a plug followed by an unplug.
    sa.sa_mask = HandledSignals();
    for (int sig : kHandledSignals)
        sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // A launcher may hold the signals back until the handlers are in place; they come now.
    const sigset_t handled = HandledSignals();
    pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);

    int status = 0;
    {
        Rack rack(o, preload);
        if (!Serve(rack, pipeFds[0], !o.unplugged))
            status = 1;
        rack.UnplugAll();
        if (rack.DumpFailed())
            status = 1;
    }
    return status;
}
