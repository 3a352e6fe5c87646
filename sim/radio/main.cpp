// zimp-radio-sim: a simulated radio on a pseudo-terminal, for the program and its tests.

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/BoundedRead.h"
#include "platform/PseudoTerminal.h"
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

}  // namespace

int main(int argc, char** argv) {
    radio::ZimpRadioOptions options;
    radio::BootRadioOptions bootOptions;
    radio::TqvRadioOptions tqvOptions;
    std::string linkPath, dumpPath, loadPath, mode = "zimp";
    uint32_t baud = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        uint32_t n = 0;
        auto number = [&](uint32_t max) {
            if (!Number(value, n) || n > max)
                return false;
            ++i;
            return true;
        };
        auto text = [&](std::string& out) {
            if (value == nullptr)
                return false;
            out = value;
            ++i;
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << kHelp;
            return 0;
        } else if (arg == "--echo") {
            options.echo = true;
        } else if (arg == "--short-read") {
            options.shortRead = true;
        } else if (arg == "--no-write-response") {
            options.noWriteResponse = true;
        } else if (arg == "--decompress") {
            options.decompress = true;
        } else if (arg == "--vintrel") {
            tqvOptions.vintrel = true;
        } else if (arg == "--ack") {
            if (!number(0xFF))
                return Usage("--ack needs a byte");
            tqvOptions.ack = static_cast<uint8_t>(n);
        } else if (arg == "--corrupt-at") {
            if (!number(0xFFFFFFFF))
                return Usage("--corrupt-at needs a byte position");
            bootOptions.corruptAt = n;
        } else if (arg == "--echo-limit") {
            if (!number(0xFFFFFFFF))
                return Usage("--echo-limit needs a count");
            bootOptions.echoLimit = n;
        } else if (arg == "--link") {
            if (!text(linkPath))
                return Usage("--link needs a path");
        } else if (arg == "--dump") {
            if (!text(dumpPath))
                return Usage("--dump needs a file");
        } else if (arg == "--load") {
            if (!text(loadPath))
                return Usage("--load needs a file");
        } else if (arg == "--mode") {
            if (!text(mode) || (mode != "zimp" && mode != "boot" && mode != "tqv"))
                return Usage("--mode takes zimp, boot or tqv");
        } else if (arg == "--baud") {
            if (!number(4000000) || n == 0)
                return Usage("--baud needs a rate from 1 to 4000000");
            baud = n;
        } else if (arg == "--idle-ms") {
            if (!number(600000) || n == 0)
                return Usage("--idle-ms needs 1 to 600000");
            options.idleMs = n;
        } else if (arg == "--buffer-length") {
            if (!number(0xFFFF))
                return Usage("--buffer-length needs 0 to 0xFFFF");
            options.bufferLength = static_cast<uint16_t>(n);
        } else if (arg == "--nak") {
            if (!number(0xFFFFFFFF))
                return Usage("--nak needs a count");
            options.nakFirstWrites = n;
        } else if (arg == "--nak-every") {
            if (!number(0xFFFFFFFF))
                return Usage("--nak-every needs a count");
            options.nakEvery = n;
        } else if (arg == "--bad-write-at") {
            if (!number(0xFFFFFF))
                return Usage("--bad-write-at needs an address up to 0xFFFFFF");
            options.badWriteAt = n;
        } else if (arg == "--silent-after") {
            if (!number(0xFFFFFFFF))
                return Usage("--silent-after needs a count");
            options.silentAfter = n;
        } else if (arg == "--wrong-opcode-at") {
            if (!number(0xFFFFFFFF) || n == 0)
                return Usage("--wrong-opcode-at needs a request number from 1");
            options.wrongOpcodeAt = n;
        } else {
            return Usage("unknown option " + arg);
        }
    }

    radio::ZimpRadio zimp(options);
    if (!loadPath.empty()) {
        std::string text, error;
        const auto read = platform::ReadFileBounded(loadPath, kMaxPreload, text);
        const int readError = errno;
        if (read != platform::ReadStatus::Ok || !zimp.LoadJson(text, error)) {
            const std::string why =
                read == platform::ReadStatus::Ok ? error
                : read == platform::ReadStatus::TooLarge
                    ? "larger than " + std::to_string(kMaxPreload >> 20) + " MiB"
                    : std::strerror(readError);
            std::cerr << "zimp-radio-sim: cannot load " << loadPath << ": " << why << "\n";
            return 1;
        }
    }

    platform::PseudoTerminal pty;
    if (!pty.Open(true)) {
        std::cerr << "zimp-radio-sim: cannot open a pseudo-terminal: " << std::strerror(errno)
                  << "\n";
        return 1;
    }
    if (!linkPath.empty()) {
        // Replace an old link left by an earlier run, never a file of another kind.
        char target[4096];
        if (readlink(linkPath.c_str(), target, sizeof target) >= 0)
            unlink(linkPath.c_str());
        if (symlink(pty.SlavePath().c_str(), linkPath.c_str()) != 0) {
            std::cerr << "zimp-radio-sim: cannot link " << linkPath << ": " << std::strerror(errno)
                      << "\n";
            return 1;
        }
    }

    tqvOptions.echo = options.echo;
    tqvOptions.idleMs = options.idleMs;
    radio::BootRadio boot(bootOptions);
    radio::TqvRadio tqv(tqvOptions);
    radio::RadioMode& active = mode == "boot"  ? static_cast<radio::RadioMode&>(boot)
                               : mode == "tqv" ? static_cast<radio::RadioMode&>(tqv)
                                               : static_cast<radio::RadioMode&>(zimp);
    radio::RadioSimulator simulator(pty.MasterFd(), active, baud);
    g_simulator = &simulator;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::cout << "PTY " << pty.SlavePath() << std::endl;
    const bool ok = simulator.Run();
    g_simulator = nullptr;

    int status = ok ? 0 : 1;
    if (!dumpPath.empty()) {
        std::ofstream out(dumpPath, std::ios::binary | std::ios::trunc);
        active.WriteDump(out);
        out.flush();
        if (!out) {
            std::cerr << "zimp-radio-sim: cannot write " << dumpPath << "\n";
            status = 1;
        }
    }
    if (!linkPath.empty())
        unlink(linkPath.c_str());
    return status;
}
