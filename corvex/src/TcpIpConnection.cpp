#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Internal.h"

namespace {

// The outgoing frame, built by PrepareCommand. One per process: only one connection object
// may send at a time.
unsigned char g_sendFrame[FRAME_BUFFER_SIZE];

constexpr int kResponseTries = 4;
constexpr int kResponseWaitMs = 5000;
constexpr int kReaderStartMs = 1000;
constexpr int kSendRounds = 2000;
constexpr unsigned kSendPauseMs = 50;
// A server that neither accepts nor refuses must not hold MakeConnection for minutes.
constexpr int kConnectWaitMs = 10000;

void CloseSocket(unsigned& sock) {
    if (sock != INVALID_SOCKET) {
        ::close(static_cast<int>(sock));
        sock = INVALID_SOCKET;
    }
}

bool ConnectWithin(int fd, const sockaddr_in& addr, int ms) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        return false;
    }
    int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    if (r < 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        do {
            r = ::poll(&p, 1, ms);
        } while (r < 0 && errno == EINTR);
        if (r <= 0) {
            return false;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0 || err != 0) {
            return false;
        }
    } else if (r < 0) {
        return false;
    }
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

}  // namespace

CTcpIpConnection::CTcpIpConnection() = default;

CTcpIpConnection::~CTcpIpConnection() {
    // The reader must be gone before its socket and the buffers it writes.
    reader.StopWatchThread();
    CloseSocket(in_socket);
    CloseSocket(out_socket);
}

int CTcpIpConnection::InitConnection(unsigned in, unsigned out) {
    in_socket = in;
    out_socket = out;
    return 1;
}

void CTcpIpConnection::ResetConnection() {
    reader.StopWatchThread();
    CloseSocket(in_socket);
    CloseSocket(out_socket);
}

int CTcpIpConnection::connect_server(unsigned* sock, char* host, int port) {
    if (!sock || !host || port < 0 || port > 65535) {
        return 0;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host, &addr.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
            return 0;
        }
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return 0;
    }
    *sock = static_cast<unsigned>(fd);
    if (!ConnectWithin(fd, addr, kConnectWaitMs)) {
        CloseSocket(*sock);
        return 0;
    }
    // Frames go out in one send each; do not hold them back waiting for acknowledgements.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return 1;
}

int CTcpIpConnection::SendMessageToServer(unsigned sock, send_struct* s) {
    if (!s || !s->data || s->len < 0 || s->len > FRAME_MAX_PDU) {
        return 0;  // does not fit a frame
    }
    SetSdu(s->data, s->sdu, s->sdu_offset);
    PrepareCommand(s->data, s->len, s->kind);
    if (auto events = corvex::CurrentEvents()) {
        events->response.Reset();  // only an answer to this request may end the next wait
    }
    return SendNetMessage(g_sendFrame, s->len + 4, sock);
}

int CTcpIpConnection::MessageIsResponse(unsigned char* frame, unsigned char* sdu, int offset) {
    if (!frame || !sdu || offset < 0 || offset + 1 >= FRAME_BUFFER_SIZE) {
        return 0;
    }
    return frame[offset] == sdu[0] && frame[offset + 1] == sdu[1] ? 1 : 0;
}

int CTcpIpConnection::PrepareCommand(unsigned char* pdu, int len, int kind) {
    len = std::clamp(len, 0, FRAME_MAX_PDU);
    std::memset(g_sendFrame, 0, sizeof g_sendFrame);
    g_sendFrame[0] = static_cast<unsigned char>(len >> 8);
    g_sendFrame[1] = static_cast<unsigned char>(len);
    g_sendFrame[2] = 0;
    g_sendFrame[3] = static_cast<unsigned char>(kind);
    if (pdu && len > 0) {
        std::memcpy(g_sendFrame + 4, pdu, static_cast<size_t>(len));
    }
    return 1;
}

void CTcpIpConnection::SetSdu(unsigned char* pdu, unsigned char* sdu, int offset) {
    if (!pdu || !sdu || offset < 0 || offset + 1 >= FRAME_BUFFER_SIZE) {
        return;
    }
    pdu[offset] = sdu[0];
    pdu[offset + 1] = sdu[1];
}

int CTcpIpConnection::GetResponce(recv_struct* r) {
    if (!r) {
        return 0;
    }
    unsigned char work[FRAME_BUFFER_SIZE];
    const size_t copyLen =
        r->data ? static_cast<size_t>(std::clamp(r->len, 0, FRAME_BUFFER_SIZE)) : 0;
    std::shared_ptr<corvex::ProcessEvents> events = corvex::CurrentEvents();
    for (int tries = 0;;) {
        if (copyLen) {
            std::memset(r->data, 0, copyLen);
        }
        if (!events || !events->response.Wait(kResponseWaitMs)) {
            return 0;
        }
        if (corvex::CopyResponse(work) == 0) {
            return 0;
        }
        if (MessageIsResponse(work, r->sdu, r->sdu_offset)) {
            if (copyLen) {
                std::memcpy(r->data, work, copyLen);
            }
            return r->len;
        }
        // The event stays set: the next try looks at whatever frame the buffer holds by then.
        if (++tries >= kResponseTries) {
            return 0;
        }
    }
}

int CTcpIpConnection::MakeConnection(server_struct* server) {
    if (!server) {
        return 0;
    }
    // (The socket library needs no start-up here.)
    if (!connect_server(&server->out_socket, server->host, server->out_port)) {
        return 0;
    }
    if (!connect_server(&server->in_socket, server->host, server->in_port)) {
        CloseSocket(server->out_socket);
        return 0;
    }
    ResetConnection();
    InitConnection(server->in_socket, server->out_socket);
    return CreateReaderThread();
}

int CTcpIpConnection::CreateReaderThread() {
    reader.StopWatchThread();
    if (!reader.Init(in_socket)) {
        return 0;
    }
    std::shared_ptr<corvex::ProcessEvents> events = corvex::CurrentEvents();
    if (!events) {
        return 0;
    }
    events->started.Reset();
    if (!reader.CreateWatchThread()) {
        return 0;
    }
    return events->started.Wait(kReaderStartMs) ? 1 : 0;
}

int CTcpIpConnection::TerminateReaderThread() {
    if (auto events = corvex::CurrentEvents()) {
        events->stop.Set();
    }
    reader.StopWatchThread();
    return 1;
}

int CTcpIpConnection::SendNetMessage(void* buf, int len, unsigned sock) {
    if (sock == INVALID_SOCKET) {
        sock = out_socket;
    }
    if (!buf || len < 0 || sock == INVALID_SOCKET) {
        return 0;
    }
    const auto* bytes = static_cast<const unsigned char*>(buf);
    int sent = 0;
    for (int round = 0; round < kSendRounds; ++round) {
        ssize_t n = corvex::g_send(static_cast<int>(sock), bytes + sent,
                                   static_cast<size_t>(len - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return 0;
            }
            n = 0;  // the peer's buffers are full: try again shortly
        }
        sent += static_cast<int>(n);
        if (sent >= len) {
            break;
        }
        corvex::SleepMs(kSendPauseMs);
    }
    return sent == len ? len : 0;
}
