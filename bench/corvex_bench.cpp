// Loopback throughput of Corvex, with the ping-pong of two plain sockets as the floor.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <corvex/Corvex.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// A connected pair of loopback TCP sockets with Nagle off.
bool TcpPair(int& a, int& b) {
    int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(l, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(l, 1) != 0 ||
        ::getsockname(l, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(l);
        return false;
    }
    a = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(l);
        return false;
    }
    b = ::accept(l, nullptr, nullptr);
    ::close(l);
    int one = 1;
    ::setsockopt(a, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(b, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return b >= 0;
}

bool ReadAll(int fd, unsigned char* p, size_t n) {
    while (n) {
        ssize_t r = ::recv(fd, p, n, 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// The floor: a 18-byte request and a 24-byte answer between two plain sockets, the sizes of
// a RegisterDevice exchange.
void BM_PlainSocketPingPong(benchmark::State& state) {
    int a, b;
    if (!TcpPair(a, b)) {
        state.SkipWithError("no loopback sockets");
        return;
    }
    std::thread echo([b] {
        unsigned char req[18], resp[24] = {};
        while (ReadAll(b, req, sizeof req)) {
            if (::send(b, resp, sizeof resp, MSG_NOSIGNAL) != sizeof resp)
                break;
        }
    });
    unsigned char req[18] = {}, resp[24];
    for (auto _ : state) {
        ::send(a, req, sizeof req, MSG_NOSIGNAL);
        if (!ReadAll(a, resp, sizeof resp)) {
            state.SkipWithError("peer gone");
            break;
        }
    }
    ::shutdown(a, SHUT_RDWR);
    echo.join();
    ::close(a);
    ::close(b);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainSocketPingPong)->UseRealTime();

// rnc-sim as a child process, quiet, until the benchmark ends.
class Sim {
  public:
    Sim() {
        int out[2], in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        char path[] = RNC_SIM_PATH;
        char quiet[] = "--quiet";
        char* argv[] = {path, quiet, nullptr};
        if (posix_spawn(&pid_, path, &fa, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        ::close(in[0]);
        toSim_ = in[1];
        fromSim_ = out[0];
        char line[64] = {};
        size_t got = 0;
        pollfd p{fromSim_, POLLIN, 0};
        while (got < sizeof line - 1 && ::poll(&p, 1, 10000) == 1) {
            if (::read(fromSim_, line + got, 1) != 1 || line[got] == '\n')
                break;
            ++got;
        }
        if (std::sscanf(line, "PORTS %d %d", &inPort, &outPort) != 2)
            inPort = outPort = -1;
    }
    ~Sim() {
        if (toSim_ >= 0)
            ::close(toSim_);  // end of input ends it
        if (pid_ > 0)
            ::waitpid(pid_, nullptr, 0);
        if (fromSim_ >= 0)
            ::close(fromSim_);
    }
    int inPort = -1, outPort = -1;

  private:
    pid_t pid_ = -1;
    int toSim_ = -1, fromSim_ = -1;
};

void BM_RegisterDeviceRoundTrip(benchmark::State& state) {
    Sim sim;
    CRnc rnc;
    char host[] = "127.0.0.1";
    server_struct server{host, sim.inPort, sim.outPort, INVALID_SOCKET, INVALID_SOCKET};
    if (sim.inPort < 0 || !rnc.MakeSocket(server, 5) || rnc.InitServerCon() != 0 ||
        rnc.ActivateRnc() != 0 || rnc.StartFlow() != 0) {
        state.SkipWithError("no link to rnc-sim");
        return;
    }
    rnc.SetConnected();
    for (auto _ : state) {
        if (rnc.RegisterDevice("0012AB34", 1, 2, 3) != 0) {
            state.SkipWithError("RegisterDevice failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RegisterDeviceRoundTrip)->UseRealTime();

class CountingWindow : public CHostWindow {
  public:
    void PostMessage(unsigned int, uintptr_t, intptr_t) override {
        posts.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<long> posts{0};
};

// Host messages of the given PDU size, written in batches by a server thread, read by the
// reader thread into host_queue and taken out by the caller through the queue flag.
void BM_HostMessagesThroughReader(benchmark::State& state) {
    const size_t pdu = static_cast<size_t>(state.range(0));
    constexpr int kBatch = 256;
    int client, server;
    if (!TcpPair(client, server)) {
        state.SkipWithError("no loopback sockets");
        return;
    }
    CountingWindow window;
    CTcpIpConnection conn;
    conn.InitConnection(static_cast<unsigned>(client), INVALID_SOCKET);
    conn.SetOwnerWnd(&window);
    if (!conn.CreateReaderThread()) {
        state.SkipWithError("reader did not start");
        return;
    }
    std::vector<unsigned char> batch;
    for (int i = 0; i < kBatch; ++i) {
        unsigned char head[4] = {static_cast<unsigned char>(pdu >> 8),
                                 static_cast<unsigned char>(pdu), 0, 0};
        batch.insert(batch.end(), head, head + 4);
        std::vector<unsigned char> body(pdu, 0);
        body[0] = 0xAD;
        batch.insert(batch.end(), body.begin(), body.end());
    }
    const int flag = static_cast<int>(reinterpret_cast<intptr_t>(host_queue.GetQueueFlag()));
    for (auto _ : state) {
        std::thread writer([&] {
            size_t off = 0;
            while (off < batch.size()) {
                ssize_t n = ::send(server, batch.data() + off, batch.size() - off, MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                off += static_cast<size_t>(n);
            }
        });
        int taken = 0;
        while (taken < kBatch) {
            pollfd p{flag, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1)
                break;
            unsigned long len = 0;
            void* m = host_queue.GetFirstMessage(len);
            if (m) {
                std::free(m);
                ++taken;
            }
        }
        writer.join();
        if (taken < kBatch) {
            state.SkipWithError("messages lost");
            break;
        }
    }
    conn.TerminateReaderThread();
    conn.in_socket = INVALID_SOCKET;
    ::close(client);
    ::close(server);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_HostMessagesThroughReader)->Arg(16)->Arg(1000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
