// rnc-client: a small caller of the Corvex library. It links the RNC, registers a device,
// uploads a block, prints host messages as they arrive, then de-registers and ends.
//
//   rnc-client [--host H] --in-port N --out-port N [--cid N] [--device ID] [--listen MS]
//              [--connect-wait MS]   (default 5000: retries while the server starts)

#include <corvex/Corvex.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

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

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    std::string device = "0012AB34";
    int inPort = -1, outPort = -1, listenMs = 2000, connectWaitMs = 5000;
    unsigned long cid = 5;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--help" || a == "-h") {
            Usage();
            return 0;
        }
        if (!v)
            return Usage();
        if (a == "--host")
            host = v;
        else if (a == "--in-port")
            inPort = std::atoi(v);
        else if (a == "--out-port")
            outPort = std::atoi(v);
        else if (a == "--cid")
            cid = std::strtoul(v, nullptr, 0);
        else if (a == "--device")
            device = v;
        else if (a == "--listen")
            listenMs = std::atoi(v);
        else if (a == "--connect-wait")
            connectWaitMs = std::atoi(v);
        else
            return Usage();
        ++i;
    }
    if (inPort < 0 || outPort < 0)
        return Usage();

    PipeWindow window;
    CRnc rnc;
    rnc.SetEventMsgWnd(&window);
    // The server may still be starting (a script starts both at once): retry for a while.
    for (int waited = 0;; waited += kConnectRetryMs) {
        server_struct server{host.data(), inPort, outPort, INVALID_SOCKET, INVALID_SOCKET};
        if (rnc.MakeSocket(server, cid))
            break;
        if (waited >= connectWaitMs) {
            std::printf("connect failed\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryMs));
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

    r = rnc.RegisterDevice(device.c_str(), 1, 2, 3);
    std::printf("RegisterDevice %s: %d\n", device.c_str(), r);
    static unsigned char block[UPLOAD_BUFFER_SIZE];
    r = rnc.Upload(block);
    std::printf("Upload: %d\n", r);
    if (r == 0) {
        std::printf("block: %.18s...\n", reinterpret_cast<const char*>(block));
    }

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

    r = rnc.DeRegisterDevice(device.c_str());
    std::printf("DeRegisterDevice: %d\n", r);
    rnc.EndConnection();
    std::printf("ended\n");
    return 0;
}
