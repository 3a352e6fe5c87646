// rnc-sim: stands in for the RNC on loopback. It listens on two ports (the client's out
// connection, on which requests arrive, and its in connection, on which answers, upload
// blocks and host messages go back), answers requests, and plays faults on demand.
// Every frame received is logged on stdout; commands arrive on stdin (see --help).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/HexText.h"
#include "sim/SimCommandLine.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const char kMarker[] = "KQB274MufTEzWobXAD";
constexpr size_t kMarkerLen = 18;

const char kHelp[] =
    "usage: rnc-sim [options]\n"
    "\n"
    "A substitute RNC server on loopback. It listens on two ports: the client's out\n"
    "connection (requests arrive there) and its in connection (responses, upload blocks and\n"
    "host messages are sent there). When both are bound it prints\n"
    "    PORTS <in> <out>\n"
    "and from then on logs each frame it receives as 'RECV OUT <hex>' or 'RECV IN <hex>'.\n"
    "\n"
    "Every request on the out connection (except the link message, opcode 72) is answered on\n"
    "the in connection with a frame of kind 0 whose PDU is: opcode|80, 00, the request's SDU\n"
    "(PDU bytes 2-3), the request's bytes 4-7, the status byte (PDU byte 8), then the LID\n"
    "values at PDU bytes 9, 10 and 12, zero-padded to --response-len bytes. An accepted data\n"
    "request (opcode 29) with sub-kind 'm' (PDU byte 8) is followed by an upload block:\n"
    "opcode 8C, PDU byte 8 'm', the marker KQB274MufTEzWobXAD at the chosen frame offset.\n"
    "\n"
    "Options:\n"
    "  --host ADDR          address to listen on (default 127.0.0.1)\n"
    "  --in-port N          port of the client's in connection (default 0: any free port)\n"
    "  --out-port N         port of the client's out connection (default 0: any free port)\n"
    "  --status KEY=HH      status byte for requests with opcode KEY (2 hex digits), or for\n"
    "                       data requests with opcode 29 and sub-kind KEY (4 hex digits,\n"
    "                       e.g. 296d); below 40 accepts, 40 or above refuses (default 00)\n"
    "  --refuse KEY         same as --status KEY=40\n"
    "  --marker-offset N    frame offset of the upload marker, 13 or more (default 13)\n"
    "  --upload-len N       frame length of upload blocks, 32..5008 (default 1024)\n"
    "  --response-len N     PDU length of responses, 4..5004 (default 20)\n"
    "  --lid R1,R2,R3       LID values in responses (hex, default 0A,0B,0C)\n"
    "  --no-blocks          send no upload blocks (see the blocks command)\n"
    "  --delay MS           answer each request only after MS milliseconds\n"
    "  --fault LIST         comma-separated faults, all off by default:\n"
    "      silent           never answer requests\n"
    "      wrong-sdu        answer with the SDU bytes inverted\n"
    "      split            send every frame in pieces (--split-size bytes, 2 ms apart)\n"
    "      zero-length      send a frame with length field 0 before each answer\n"
    "      oversize         send a frame with length field 6000 (and its 6000 bytes)\n"
    "                       before each answer\n"
    "      garbage          answer with 64 random bytes instead of a frame\n"
    "      close            close both connections instead of answering\n"
    "      slow-read        read the out connection 16 bytes per millisecond, with a\n"
    "                       small receive buffer (set at start-up only)\n"
    "  --split-size N       piece size for the split fault (default 1)\n"
    "  --quiet              do not log received frames\n"
    "  --keep-running       keep serving when stdin ends (default: end with it)\n"
    "  --help               this text\n"
    "  --version            the version of rnc-sim\n"
    "\n"
    "Commands on stdin, one per line, each acknowledged with 'OK <command>' or 'ERR <why>':\n"
    "  host <hex PDU>       send a host message frame (kind 0) with this PDU\n"
    "  raw <hex>            send these bytes as they are on the in connection\n"
    "  status KEY HH        set a status byte, as --status\n"
    "  fault LIST|none      replace the set of faults, as --fault\n"
    "  delay MS             as --delay\n"
    "  marker N             as --marker-offset\n"
    "  lid R1 R2 R3         as --lid\n"
    "  blocks on|off        send upload blocks after accepted 'm' requests, or not\n"
    "  close                close both client connections\n"
    "  quit                 end (so does end of input, unless --keep-running)\n";

struct Options {
    std::string host = "127.0.0.1";
    int inPort = 0;
    int outPort = 0;
    std::map<unsigned, uint8_t> status;  // opcode (<= 0xFF) or opcode << 8 | sub
    size_t markerOffset = 13;
    size_t uploadLen = 1024;
    size_t responseLen = 20;
    uint8_t lid[3] = {0x0A, 0x0B, 0x0C};
    int delayMs = 0;
    bool silent = false, wrongSdu = false, split = false, zeroLength = false;
    bool oversize = false, garbage = false, closeFault = false, slowRead = false;
    size_t splitSize = 1;
    bool quiet = false;
    bool keepRunning = false;
    bool blocks = true;
};

bool ParseHex(const std::string& text, Bytes& out) {
    std::string digits;
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c)))
            digits += c;
    }
    out.clear();
    return platform::HexToBytes(digits, out);
}

bool ParseStatusKey(const std::string& key, unsigned& out) {
    Bytes b;
    if (!ParseHex(key, b) || b.empty() || b.size() > 2)
        return false;
    out = b.size() == 1 ? b[0] : (unsigned{b[0]} << 8 | b[1]);
    return true;
}

bool SetFaults(Options& o, const std::string& list) {
    Options f = o;
    f.silent = f.wrongSdu = f.split = f.zeroLength = f.oversize = f.garbage = f.closeFault =
        f.slowRead = false;
    std::stringstream ss(list);
    std::string name;
    while (std::getline(ss, name, ',')) {
        if (name == "none" || name.empty())
            continue;
        if (name == "silent")
            f.silent = true;
        else if (name == "wrong-sdu")
            f.wrongSdu = true;
        else if (name == "split")
            f.split = true;
        else if (name == "zero-length")
            f.zeroLength = true;
        else if (name == "oversize")
            f.oversize = true;
        else if (name == "garbage")
            f.garbage = true;
        else if (name == "close")
            f.closeFault = true;
        else if (name == "slow-read")
            f.slowRead = true;
        else
            return false;
    }
    o = f;
    return true;
}

bool ParseLid(const std::string& text, uint8_t lid[3]) {
    std::stringstream ss(text);
    std::string part;
    uint8_t v[3];
    int i = 0;
    while (std::getline(ss, part, ',')) {
        Bytes b;
        if (i == 3 || !ParseHex(part.size() == 1 ? "0" + part : part, b) || b.size() != 1)
            return false;
        v[i++] = b[0];
    }
    if (i != 3)
        return false;
    std::copy(v, v + 3, lid);
    return true;
}

Bytes Frame(const Bytes& pdu, uint8_t kind = 0) {
    Bytes f(pdu.size() + 4);
    f[0] = static_cast<uint8_t>(pdu.size() >> 8);
    f[1] = static_cast<uint8_t>(pdu.size());
    f[3] = kind;
    std::copy(pdu.begin(), pdu.end(), f.begin() + 4);
    return f;
}

// Frames as they come off one connection, split by their length field.
struct FrameSplitter {
    Bytes pending;
    bool Next(Bytes& frame) {
        if (pending.size() < 2)
            return false;
        size_t n = (size_t{pending[0]} << 8 | pending[1]) + 4;
        if (pending.size() < n)
            return false;
        frame.assign(pending.begin(), pending.begin() + static_cast<long>(n));
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
        return true;
    }
};

class Server {
  public:
    explicit Server(Options o) : o_(std::move(o)), rng_(12345) {}

    bool Listen() {
        inListen_ = MakeListener(o_.inPort, false);
        outListen_ = MakeListener(o_.outPort, o_.slowRead);
        if (inListen_ < 0 || outListen_ < 0)
            return false;
        std::printf("PORTS %d %d\n", PortOf(inListen_), PortOf(outListen_));
        std::fflush(stdout);
        return true;
    }

    int Run() {
        std::string line;
        for (;;) {
            std::vector<pollfd> fds;
            fds.push_back({stdinOpen_ ? 0 : -1, POLLIN, 0});
            fds.push_back({inListen_, POLLIN, 0});
            fds.push_back({outListen_, POLLIN, 0});
            const auto now = Clock::now();
            bool outReadable = out_ >= 0 && (!o_.slowRead || now >= nextSlowRead_);
            fds.push_back({outReadable ? out_ : -1, POLLIN, 0});
            fds.push_back({in_, POLLIN, 0});
            int timeout = -1;
            if (!queue_.empty())
                timeout = MsUntil(queue_.front().due);
            if (out_ >= 0 && !outReadable) {
                int t = MsUntil(nextSlowRead_);
                timeout = timeout < 0 ? t : std::min(timeout, t);
            }
            int r = ::poll(fds.data(), fds.size(), timeout);
            if (r < 0 && errno != EINTR)
                return 1;
            if (fds[0].revents) {
                if (!ReadCommands()) {
                    if (!o_.keepRunning || quit_)
                        return 0;
                    stdinOpen_ = false;
                }
            }
            if (fds[1].revents & POLLIN)
                Accept(inListen_, in_, "IN");
            if (fds[2].revents & POLLIN)
                Accept(outListen_, out_, "OUT");
            if (out_ >= 0 && fds[3].revents)
                ReadFrom(out_, outFrames_, "OUT");
            if (in_ >= 0 && fds[4].revents)
                ReadFrom(in_, inFrames_, "IN");
            Flush();
        }
    }

  private:
    int MakeListener(int port, bool smallBuffer) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (smallBuffer) {
            int size = 1024;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (::inet_pton(AF_INET, o_.host.c_str(), &a.sin_addr) != 1 ||
            ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || ::listen(fd, 4) < 0) {
            std::fprintf(stderr, "rnc-sim: cannot listen on %s:%d: %s\n", o_.host.c_str(), port,
                         std::strerror(errno));
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static int PortOf(int fd) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }

    static int MsUntil(Clock::time_point t) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
        return ms < 0 ? 0 : static_cast<int>(ms) + 1;
    }

    void Accept(int listener, int& slot, const char* which) {
        int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (slot >= 0) {
            ::close(slot);  // a new client replaces the old one
            if (&slot == &in_)
                queue_.clear();
        }
        slot = fd;
        (&slot == &in_ ? inFrames_ : outFrames_).pending.clear();
        Log(std::string("CONNECTED ") + which);
    }

    void CloseClient() {
        if (in_ >= 0)
            ::close(in_);
        if (out_ >= 0)
            ::close(out_);
        in_ = out_ = -1;
        queue_.clear();
        Log("CLOSED");
    }

    void Log(const std::string& text) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }

    void ReadFrom(int& fd, FrameSplitter& frames, const char* which) {
        uint8_t buf[8192];
        size_t want = (&fd == &out_ && o_.slowRead) ? 16 : sizeof buf;
        ssize_t n = ::recv(fd, buf, want, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            ::close(fd);
            fd = -1;
            Log(std::string("DISCONNECTED ") + which);
            return;
        }
        if (n < 0)
            return;
        if (&fd == &out_ && o_.slowRead)
            nextSlowRead_ = Clock::now() + std::chrono::milliseconds(1);
        frames.pending.insert(frames.pending.end(), buf, buf + n);
        Bytes frame;
        while (frames.Next(frame)) {
            if (!o_.quiet) {
                std::printf("RECV %s %s\n", which,
                            platform::HexText(frame.data(), frame.size()).c_str());
                std::fflush(stdout);
            }
            if (&fd == &out_)
                Answer(frame);
            if (fd < 0)
                return;
        }
    }

    uint8_t StatusFor(const Bytes& frame) {
        const uint8_t op = frame.size() > 4 ? frame[4] : 0;
        if (op == 0x29 && frame.size() > 12) {
            auto it = o_.status.find(unsigned{op} << 8 | frame[12]);
            if (it != o_.status.end())
                return it->second;
        }
        auto it = o_.status.find(op);
        return it != o_.status.end() ? it->second : 0x00;
    }

    void Answer(const Bytes& req) {
        if (req.size() < 5)
            return;
        const uint8_t op = req[4];
        if (op == 0x72 || o_.silent)
            return;
        if (o_.closeFault) {
            CloseClient();
            return;
        }
        const auto due = Clock::now() + std::chrono::milliseconds(o_.delayMs);
        if (o_.zeroLength)
            Send(Bytes{0, 0, 0, 0}, due);
        if (o_.oversize) {
            Bytes junk(6004, 0xAA);
            junk[0] = 6000 >> 8;
            junk[1] = 6000 & 0xFF;
            junk[2] = 0;
            junk[3] = 0;
            Send(junk, due);
        }
        if (o_.garbage) {
            Bytes junk(64);
            for (auto& b : junk)
                b = static_cast<uint8_t>(rng_());
            Send(junk, due);
            return;
        }
        const uint8_t status = StatusFor(req);
        Bytes pdu(o_.responseLen, 0);
        pdu[0] = static_cast<uint8_t>(op | 0x80);
        pdu[2] = req.size() > 6 ? req[6] : 0;
        pdu[3] = req.size() > 7 ? req[7] : 0;
        if (o_.wrongSdu) {
            pdu[2] ^= 0xFF;
            pdu[3] ^= 0xFF;
        }
        for (size_t i = 4; i < 8 && i < pdu.size() && i + 4 < req.size(); ++i)
            pdu[i] = req[i + 4];
        if (pdu.size() > 8)
            pdu[8] = status;
        if (pdu.size() > 12) {
            pdu[9] = o_.lid[0];
            pdu[10] = o_.lid[1];
            pdu[12] = o_.lid[2];
        }
        Send(Frame(pdu), due);
        if (o_.blocks && op == 0x29 && req.size() > 12 && req[12] == 'm' && status < 0x40) {
            Send(UploadBlock(req), due);
        }
    }

    Bytes UploadBlock(const Bytes& req) {
        Bytes f(o_.uploadLen);
        for (size_t i = 0; i < f.size(); ++i)
            f[i] = static_cast<uint8_t>(i);
        const size_t n = f.size() - 4;
        f[0] = static_cast<uint8_t>(n >> 8);
        f[1] = static_cast<uint8_t>(n);
        f[2] = 0;
        f[3] = 0;
        f[4] = 0x8C;
        f[5] = 0;
        f[6] = req[6];
        f[7] = req[7];
        std::copy(req.begin() + 8, req.begin() + 12, f.begin() + 8);
        f[12] = 'm';
        if (o_.markerOffset + kMarkerLen <= f.size()) {
            std::memcpy(f.data() + o_.markerOffset, kMarker, kMarkerLen);
        }
        return f;
    }

    // Queues bytes for the in connection, in order, no earlier than due; the split fault
    // cuts them into small pieces that go out 2 ms apart.
    void Send(const Bytes& bytes, Clock::time_point due) {
        if (!queue_.empty())
            due = std::max(due, queue_.back().due);
        if (!o_.split) {
            queue_.push_back({due, bytes});
            return;
        }
        for (size_t i = 0; i < bytes.size(); i += o_.splitSize) {
            size_t end = std::min(bytes.size(), i + o_.splitSize);
            queue_.push_back({due, Bytes(bytes.begin() + static_cast<long>(i),
                                         bytes.begin() + static_cast<long>(end))});
            due += std::chrono::milliseconds(2);
        }
    }

    void Flush() {
        while (!queue_.empty() && Clock::now() >= queue_.front().due) {
            Bytes b = std::move(queue_.front().bytes);
            queue_.pop_front();
            if (in_ < 0)
                continue;
            size_t off = 0;
            while (off < b.size()) {
                ssize_t n = ::send(in_, b.data() + off, b.size() - off, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    ::close(in_);
                    in_ = -1;
                    Log("DISCONNECTED IN");
                    break;
                }
                off += static_cast<size_t>(n);
            }
        }
    }

    bool ReadCommands() {
        char buf[65536];
        ssize_t n = ::read(0, buf, sizeof buf);
        if (n <= 0)
            return false;
        input_.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = input_.find('\n')) != std::string::npos) {
            std::string line = input_.substr(0, nl);
            input_.erase(0, nl + 1);
            if (!Command(line))
                return false;
        }
        return true;
    }

    void Reply(bool ok, const std::string& text) {
        std::printf("%s %s\n", ok ? "OK" : "ERR", text.c_str());
        std::fflush(stdout);
    }

    bool Command(const std::string& line) {
        std::stringstream ss(line);
        std::string cmd, rest;
        ss >> cmd;
        std::getline(ss, rest);
        rest.erase(0, rest.find_first_not_of(' '));
        std::stringstream args(rest);
        if (cmd.empty())
            return true;
        if (cmd == "quit") {
            quit_ = true;
            return false;
        }
        if (cmd == "host" || cmd == "raw") {
            Bytes b;
            if (!ParseHex(rest, b) || (cmd == "host" && (b.empty() || b.size() > 5004))) {
                Reply(false, "bad hex");
            } else if (in_ < 0) {
                Reply(false, "not connected");
            } else {
                Send(cmd == "host" ? Frame(b) : b, Clock::now());
                Flush();
                Reply(true, cmd);
            }
        } else if (cmd == "status") {
            std::string key, value;
            args >> key >> value;
            unsigned k;
            Bytes v;
            if (!ParseStatusKey(key, k) || !ParseHex(value, v) || v.size() != 1) {
                Reply(false, "usage: status KEY HH");
            } else {
                o_.status[k] = v[0];
                Reply(true, cmd);
            }
        } else if (cmd == "fault") {
            bool slow = o_.slowRead;
            Reply(SetFaults(o_, rest), cmd);
            if (o_.slowRead && !slow)
                nextSlowRead_ = Clock::now();
        } else if (cmd == "delay") {
            int ms = -1;
            args >> ms;
            if (ms >= 0)
                o_.delayMs = ms;
            Reply(ms >= 0, cmd);
        } else if (cmd == "marker") {
            size_t off = 0;
            args >> off;
            bool ok = off >= 13 && off + kMarkerLen <= o_.uploadLen;
            if (ok)
                o_.markerOffset = off;
            Reply(ok, cmd);
        } else if (cmd == "lid") {
            std::string a, b, c;
            args >> a >> b >> c;
            Reply(ParseLid(a + "," + b + "," + c, o_.lid), cmd);
        } else if (cmd == "blocks") {
            std::string v;
            args >> v;
            if (v == "on" || v == "off")
                o_.blocks = v == "on";
            Reply(v == "on" || v == "off", cmd);
        } else if (cmd == "close") {
            CloseClient();
            Reply(true, cmd);
        } else {
            Reply(false, "unknown command " + cmd);
        }
        return true;
    }

    struct Pending {
        Clock::time_point due;
        Bytes bytes;
    };

    Options o_;
    std::minstd_rand rng_;
    int inListen_ = -1, outListen_ = -1;
    int in_ = -1, out_ = -1;
    FrameSplitter inFrames_, outFrames_;
    std::deque<Pending> queue_;
    Clock::time_point nextSlowRead_{};
    std::string input_;
    bool stdinOpen_ = true;
    bool quit_ = false;
};

bool ParseInt(const char* s, long lo, long hi, long& out) {
    char* end = nullptr;
    out = std::strtol(s, &end, 0);
    return end != s && *end == '\0' && out >= lo && out <= hi;
}

// An option with a value, and how the value is taken into the options.
struct ValueOption {
    const char* name;
    std::function<bool(Options&, const std::string&)> take;
};

template <typename T>
ValueOption IntOption(const char* name, long lo, long hi, T Options::*field) {
    return {name, [=](Options& o, const std::string& v) {
                long n = 0;
                if (!ParseInt(v.c_str(), lo, hi, n))
                    return false;
                o.*field = static_cast<T>(n);
                return true;
            }};
}

bool TakeStatus(Options& o, const std::string& key, const std::string& value) {
    unsigned k;
    Bytes b;
    if (!ParseStatusKey(key, k) || !ParseHex(value, b) || b.size() != 1)
        return false;
    o.status[k] = b[0];
    return true;
}

std::vector<ValueOption> ValueOptions() {
    return {
        {"--host",
         [](Options& o, const std::string& v) {
             o.host = v;
             return true;
         }},
        IntOption("--in-port", 0, 65535, &Options::inPort),
        IntOption("--out-port", 0, 65535, &Options::outPort),
        {"--status",
         [](Options& o, const std::string& s) {
             const std::string key = s.substr(0, s.find('='));
             return TakeStatus(o, key, s.substr(std::min(s.size(), key.size() + 1)));
         }},
        {"--refuse", [](Options& o, const std::string& key) { return TakeStatus(o, key, "40"); }},
        IntOption("--marker-offset", 13, 5008 - 18, &Options::markerOffset),
        IntOption("--upload-len", 32, 5008, &Options::uploadLen),
        IntOption("--response-len", 4, 5004, &Options::responseLen),
        {"--lid", [](Options& o, const std::string& v) { return ParseLid(v, o.lid); }},
        IntOption("--delay", 0, 600000, &Options::delayMs),
        {"--fault", [](Options& o, const std::string& v) { return SetFaults(o, v); }},
        IntOption("--split-size", 1, 5008, &Options::splitSize),
    };
}

// The command line into o; -1 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options& o) {
    CLI::App app;
    bool help = false;
    bool version = false;
    // Values are taken in the order given, so a later --status or --refuse wins.
    sim::PrepareParser(app, help, CLI::MultiOptionPolicy::TakeAll);
    app.add_flag("--version", version);
    app.add_flag("--quiet", o.quiet);
    const CLI::Option* noBlocks = app.add_flag("--no-blocks");
    app.add_flag("--keep-running", o.keepRunning);
    std::vector<ValueOption> values = ValueOptions();
    std::map<const CLI::Option*, const ValueOption*> byOption;
    for (const ValueOption& v : values)
        byOption[app.add_option(v.name)] = &v;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError&) {
        std::fprintf(stderr, "rnc-sim: %s needs a value (see --help)\n", argv[argc - 1]);
        return 2;
    }
    if (help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (version) {
        std::fputs("rnc-sim " ZIMP_VERSION "\n", stdout);
        return 0;
    }
    const std::vector<std::string> rest = app.remaining();
    if (!rest.empty()) {
        // An unknown last argument reads as an option that lacks its value.
        std::fprintf(stderr,
                     rest.size() == 1 && rest[0] == argv[argc - 1]
                         ? "rnc-sim: %s needs a value (see --help)\n"
                         : "rnc-sim: unknown option %s (see --help)\n",
                     rest[0].c_str());
        return 2;
    }
    o.blocks = noBlocks->count() == 0;
    std::map<const CLI::Option*, size_t> taken;
    for (const CLI::Option* given : app.parse_order()) {
        auto it = byOption.find(given);
        if (it == byOption.end())
            continue;
        const std::string& v = given->results()[taken[given]++];
        if (!it->second->take(o, v)) {
            std::fprintf(stderr, "rnc-sim: bad value for %s: %s\n", it->second->name, v.c_str());
            return 2;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    Options o;
    if (const int status = ParseOptions(argc, argv, o); status >= 0)
        return status;
    if (o.markerOffset + kMarkerLen > o.uploadLen) {
        std::fprintf(stderr, "rnc-sim: the marker does not fit the upload block\n");
        return 2;
    }
    Server server(o);
    if (!server.Listen())
        return 1;
    return server.Run();
}
