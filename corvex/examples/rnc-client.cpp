// rnc-client: a small caller of the Corvex library. It links the RNC, registers a device,
// uploads a block, prints host messages as they arrive, then de-registers and ends.
//
//   rnc-client [--host H] --in-port N --out-port N [--cid N] [--device ID] [--listen MS]
//              [--connect-wait MS]   (default 5000: retries while the server starts)
//
// Exit status: 0 when every call succeeded; 1 when the connection, the link or any call
// failed ("connect failed" says why); 2 for bad usage, a --device other than 8 hex digits
// (0x before them allowed) included.

#include <corvex/Corvex.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <type_traits>

#include <CLI/CLI.hpp>

namespace {

// The window of this program: a posted message wakes the main loop through a pipe.
class PipeWindow : public CHostWindow {
  public:
    PipeWindow() {
        if (::pipe(fds_) != 0) {
            fds_[0] = fds_[1] = -1;
        }
    }
    ~PipeWindow() override {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    void PostMessage(unsigned int message, uintptr_t, intptr_t) override {
        if (message == WM_HOSTMSG) {
            char c = 1;
            ssize_t ignored = ::write(fds_[1], &c, 1);
            (void)ignored;
        }
    }
    int fd() const { return fds_[0]; }
    void Drain() {
        char c;
        ssize_t ignored = ::read(fds_[0], &c, 1);
        (void)ignored;
    }

  private:
    int fds_[2];
};

void PrintHex(const char* label, const unsigned char* p, unsigned long n) {
    std::printf("%s", label);
    for (unsigned long i = 0; i < n; ++i) {
        std::printf(" %02X", p[i]);
    }
    std::printf("\n");
}

int Usage() {
    std::fprintf(stderr,
                 "usage: rnc-client [--host H] --in-port N --out-port N [--cid N]"
                 " [--device ID] [--listen MS] [--connect-wait MS]\n");
    return 2;
}

constexpr int kConnectRetryMs = 200;

struct Arguments {
    std::string host = "127.0.0.1";
    std::string device = "0012AB34";
    int inPort = -1, outPort = -1, listenMs = 2000, connectWaitMs = 5000;
    unsigned long cid = 5;
};

// The library reads a device ID as far as it is hex and cuts it after 8 digits, so a typing
// error would register another device: the text must be exactly what it reads whole.
bool IsDeviceId(const std::string& id) {
    const size_t from = id.size() >= 2 && id[0] == '0' && (id[1] == 'x' || id[1] == 'X') ? 2 : 0;
    return id.size() - from == 8 && std::all_of(id.begin() + static_cast<long>(from), id.end(),
                                                [](unsigned char c) { return std::isxdigit(c); });
}

// The command line into a; -1 to go on, else the exit status.
int ParseArguments(int argc, char** argv, Arguments& a) {
    CLI::App app;
    app.set_help_flag();
    app.option_defaults()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->disable_flag_override();
    bool help = false;
    app.add_flag("-h,--help", help);
    app.add_option("--host", a.host);
    app.add_option("--device", a.device);
    // Numbers are taken whole: "abc" or "80x" is refused, never read as 0 or 80.
    std::string in, out, cid, listen, wait;
    app.add_option("--in-port", in);
    app.add_option("--out-port", out);
    app.add_option("--cid", cid);
    app.add_option("--listen", listen);
    app.add_option("--connect-wait", wait);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError&) {
        Usage();
        return help ? 0 : 2;
    }
    if (help) {
        Usage();
        return 0;
    }
    // Leaves to as it is when text is empty; false (with a message) when it is no number.
    auto number = [](const char* name, const std::string& text, int base, long max, auto& to) {
        if (text.empty())
            return true;
        errno = 0;
        char* end = nullptr;
        const unsigned long long v = std::strtoull(text.c_str(), &end, base);
        if (errno != 0 || *end != '\0' || !std::isdigit(static_cast<unsigned char>(text[0])) ||
            v > static_cast<unsigned long long>(max)) {
            std::fprintf(stderr, "rnc-client: %s takes a number from 0 to %ld\n", name, max);
            return false;
        }
        to = static_cast<std::remove_reference_t<decltype(to)>>(v);
        return true;
    };
    constexpr long kIntMax = std::numeric_limits<int>::max();
    if (!number("--in-port", in, 10, 65535, a.inPort) ||
        !number("--out-port", out, 10, 65535, a.outPort) ||
        !number("--listen", listen, 10, kIntMax, a.listenMs) ||
        !number("--connect-wait", wait, 10, kIntMax, a.connectWaitMs) ||
        !number("--cid", cid, 0, 255, a.cid))  // one byte on the wire; 0x... allowed
        return 2;
    if (!IsDeviceId(a.device)) {
        std::fprintf(stderr, "rnc-client: --device takes 8 hex digits (0x before them allowed)\n");
        return 2;
    }
    return a.inPort < 0 || a.outPort < 0 ? Usage() : -1;
}

// The server may still be starting (a script starts both at once): retry for a while.
bool Connect(CRnc& rnc, Arguments& a) {
    for (int waited = 0;; waited += kConnectRetryMs) {
        server_struct server{a.host.data(), a.inPort, a.outPort, INVALID_SOCKET, INVALID_SOCKET};
        if (rnc.MakeSocket(server, a.cid))
            return true;
        if (waited >= a.connectWaitMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryMs));
    }
}

// Why host:port does not take a connection: the error of a plain connect of our own (the
// library only says that its connection failed), or "" when it does take one.
std::string ConnectError(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int g = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
        g != 0 || found == nullptr)
        return g != 0 ? ::gai_strerror(g) : "no address";
    int err = 0;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        err = errno;
    } else if (::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            // Bounded like the library's own wait: a server that neither accepts nor refuses
            // must not hold the program.
            pollfd p{fd, POLLOUT, 0};
            int r;
            do {
                r = ::poll(&p, 1, 10000);
            } while (r < 0 && errno == EINTR);
            socklen_t len = sizeof err;
            if (r == 0)
                err = ETIMEDOUT;
            else if (r < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                err = errno;
        }
    }
    if (fd >= 0)
        ::close(fd);
    ::freeaddrinfo(found);
    return err != 0 ? std::strerror(err) : "";
}

// The reason for "connect failed", out connection first as the library connects.
std::string ConnectFailure(const Arguments& a) {
    for (int port : {a.outPort, a.inPort}) {
        std::string why = ConnectError(a.host, port);
        if (!why.empty())
            return a.host + " port " + std::to_string(port) + ": " + why;
    }
    return "both ports take connections, but the link could not be set up";
}

void PrintHostMessages(CRnc& rnc, PipeWindow& window, int listenMs) {
    std::printf("listening for host messages for %d ms\n", listenMs);
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(listenMs);
    static unsigned char msg[FRAME_BUFFER_SIZE];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        end - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0)
            break;
        pollfd p{window.fd(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) > 0) {
            window.Drain();
            unsigned long len = 0;
            rnc.GetHostMsg(msg, len);
            if (len > 0) {
                PrintHex("host message:", msg, len);
                std::fflush(stdout);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Arguments a;
    if (const int status = ParseArguments(argc, argv, a); status >= 0)
        return status;

    PipeWindow window;
    CRnc rnc;
    rnc.SetEventMsgWnd(&window);
    if (!Connect(rnc, a)) {
        std::printf("connect failed: %s\n", ConnectFailure(a).c_str());
        return 1;
    }
    std::printf("connected, cid %u\n", rnc.GetCID());
    int r;
    if ((r = rnc.InitServerCon()) != 0 || (r = rnc.ActivateRnc()) != 0 ||
        (r = rnc.StartFlow()) != 0) {
        std::printf("link set-up failed: %d\n", r);
        return 1;
    }
    rnc.SetConnected();
    std::printf("flow started\n");

    // The session goes on after a failed call, so that each result is shown; the status
    // says whether all of them succeeded.
    bool failed = false;
    r = rnc.RegisterDevice(a.device.c_str(), 1, 2, 3);
    std::printf("RegisterDevice %s: %d\n", a.device.c_str(), r);
    failed |= r != 0;
    static unsigned char block[UPLOAD_BUFFER_SIZE];
    r = rnc.Upload(block);
    std::printf("Upload: %d\n", r);
    failed |= r != 0;
    if (r == 0) {
        std::printf("block: %.18s...\n", reinterpret_cast<const char*>(block));
    }

    PrintHostMessages(rnc, window, a.listenMs);
    r = rnc.DeRegisterDevice(a.device.c_str());
    std::printf("DeRegisterDevice: %d\n", r);
    failed |= r != 0;
    rnc.EndConnection();
    std::printf("ended\n");
    return failed ? 1 : 0;
}
