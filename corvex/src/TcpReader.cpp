#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "Internal.h"

namespace corvex {

namespace {

std::mutex g_eventsLock;
std::weak_ptr<ProcessEvents> g_events;

// The response and upload buffers the reader hands frames over in.
std::mutex g_handoverLock;
unsigned char g_responseBuffer[FRAME_BUFFER_SIZE];
unsigned char g_uploadBuffer[UPLOAD_BUFFER_SIZE];

// A frame into a hand-over buffer, cut to its size, the rest zeroed.
template <size_t N>
void Store(unsigned char (&buffer)[N], const unsigned char* frame, size_t len) {
    len = std::min(len, N);
    std::lock_guard<std::mutex> g(g_handoverLock);
    std::memset(buffer, 0, N);
    std::memcpy(buffer, frame, len);
}

}  // namespace

std::shared_ptr<ProcessEvents> AcquireEvents() {
    std::lock_guard<std::mutex> g(g_eventsLock);
    std::shared_ptr<ProcessEvents> events = g_events.lock();
    if (events) {
        events->stop.Reset();
        events->response.Reset();
        events->started.Reset();
        events->upload.Reset();
        return events;
    }
    events = std::make_shared<ProcessEvents>();
    if (!events->stop.ok() || !events->started.ok() || !events->response.ok() ||
        !events->upload.ok()) {
        return nullptr;
    }
    g_events = events;
    return events;
}

std::shared_ptr<ProcessEvents> CurrentEvents() {
    std::lock_guard<std::mutex> g(g_eventsLock);
    return g_events.lock();
}

void StoreResponse(const unsigned char* frame, size_t len) {
    Store(g_responseBuffer, frame, len);
}

unsigned CopyResponse(unsigned char* dst) {
    std::lock_guard<std::mutex> g(g_handoverLock);
    unsigned n = (unsigned{g_responseBuffer[0]} << 8) | g_responseBuffer[1];
    size_t len = std::min<size_t>(n + 4u, FRAME_BUFFER_SIZE);
    std::memcpy(dst, g_responseBuffer, len);
    std::memset(dst + len, 0, FRAME_BUFFER_SIZE - len);
    return n;
}

void StoreUpload(const unsigned char* frame, size_t len) {
    Store(g_uploadBuffer, frame, len);
}

int TakeUpload(unsigned char* dst) {
    std::lock_guard<std::mutex> g(g_handoverLock);
    for (int i = 0; i < 20; ++i) {
        if (std::memcmp(g_uploadBuffer + i, UPLOAD_MARKER, UPLOAD_MARKER_LEN) == 0) {
            std::memcpy(dst, g_uploadBuffer + i, UPLOAD_BUFFER_SIZE - i);
            return i;
        }
    }
    return -1;
}

FrameClass Classify(const unsigned char* frame) {
    const unsigned char opcode = frame[4];
    const unsigned char sub = frame[12];
    switch (opcode) {
        case 0x8C:
        case 0x8D:
        case 0xAC:
            return sub == SUB_UPLOAD ? FRAME_UPLOAD : FRAME_HOST_MESSAGE;
        case 0xAD:
        case 0xAF:
            return FRAME_HOST_MESSAGE;
        default:
            return opcode >= 0x80 ? FRAME_RESPONSE : FRAME_IGNORED;
    }
}

void DispatchFrame(const unsigned char* frame, size_t len, HWND owner, ProcessEvents* events) {
    switch (Classify(frame)) {
        case FRAME_HOST_MESSAGE:
            if (owner) {
                host_queue.AddSingleMessage(const_cast<unsigned char*>(frame), len);
                owner->PostMessage(WM_HOSTMSG, 0, 0);
            }
            break;
        case FRAME_RESPONSE: {
            StoreResponse(frame, len);
            if (events) {
                events->response.Set();
            }
            char line[32];
            std::snprintf(line, sizeof line, "\n\rSet event - %02X\n\r", frame[4]);
            DebugOut(line);
            break;
        }
        case FRAME_UPLOAD:
            DebugOut("\n\rUpload\n\r");
            StoreUpload(frame, len);
            if (events) {
                events->upload.Set();
            }
            break;
        case FRAME_IGNORED:
            break;
    }
}

FrameAssembler::FrameAssembler(unsigned char* buffer) : buf_(buffer) {
    std::memset(buf_, 0, FRAME_BUFFER_SIZE);
}

unsigned char* FrameAssembler::WritePos() {
    // A frame too long for the buffer is read into the space after its header and dropped.
    return state_ == State::Skip ? buf_ + 4 : buf_ + received_;
}

size_t FrameAssembler::Room() const {
    switch (state_) {
        case State::Header:
            return 2 - received_;
        case State::Body:
            return expected_ - received_;
        case State::Skip:
            return std::min<size_t>(skipLeft_, FRAME_BUFFER_SIZE - 4);
    }
    return 0;
}

bool FrameAssembler::Advance(size_t count) {
    count = std::min(count, Room());
    switch (state_) {
        case State::Header: {
            received_ += count;
            if (received_ < 2) {
                return false;  // the other half of the length comes with a later receive
            }
            const size_t n = (size_t{buf_[0]} << 8) | buf_[1];
            if (n > static_cast<size_t>(FRAME_MAX_PDU)) {
                state_ = State::Skip;
                skipLeft_ = n + 2;  // rest of the header and the whole PDU
                expected_ = 0;
            } else {
                state_ = State::Body;
                expected_ = n + 4;  // n == 0: just the rest of the header
            }
            return false;
        }
        case State::Body:
            received_ += count;
            if (received_ < expected_) {
                return false;
            }
            if (expected_ == 4) {
                Clear();  // no PDU, nothing to hand on
                return false;
            }
            return true;
        case State::Skip:
            skipLeft_ -= count;
            if (skipLeft_ == 0) {
                Clear();
            }
            return false;
    }
    return false;
}

void FrameAssembler::Clear() {
    std::memset(buf_, 0, FRAME_BUFFER_SIZE);
    state_ = State::Header;
    received_ = 0;
    expected_ = 0;
    skipLeft_ = 0;
}

}  // namespace corvex

using corvex::DebugOut;

CTcpReader::CTcpReader() : quit_(new corvex::ManualEvent) {}

CTcpReader::~CTcpReader() {
    StopWatchThread();
    events_.reset();
}

int CTcpReader::Init(unsigned sock) {
    StopWatchThread();
    events_ = corvex::AcquireEvents();
    if (!events_) {
        return 0;
    }
    socket = sock;
    return 1;
}

int CTcpReader::CreateWatchThread() {
    StopWatchThread();
    if (!events_ || !quit_->ok()) {
        return 0;
    }
    events_->stop.Reset();
    quit_->Reset();
    running_ = true;
    exit_code_ = -1;
    try {
        thread_ = std::thread([this] {
            exit_code_ = static_cast<int>(WatchProc(this));
            running_ = false;
        });
    } catch (...) {
        running_ = false;
        return 0;
    }
    thread_id = static_cast<uint32_t>(std::hash<std::thread::id>{}(thread_.get_id()));
    return 1;
}

void CTcpReader::StopWatchThread() {
    if (!thread_.joinable()) {
        return;
    }
    quit_->Set();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // called from a window's PostMessage: the thread ends on return
        return;
    }
    thread_.join();
}

void CTcpReader::SetOwnerWnd(HWND wnd) {
    std::lock_guard<std::recursive_mutex> g(owner_lock_);
    owner_wnd_ = wnd;
}

unsigned CTcpReader::WatchProc(void* arg) {
    auto* self = static_cast<CTcpReader*>(arg);
    std::memset(self->frame, 0, 4);
    DebugOut("\n\rThread function    ");
    std::shared_ptr<corvex::ProcessEvents> events = self->events_;
    events->started.Set();

    const int sock = static_cast<int>(self->socket);
    corvex::FrameAssembler assembler(self->frame);
    pollfd fds[3] = {
        {events->stop.fd(), POLLIN, 0}, {self->quit_->fd(), POLLIN, 0}, {sock, POLLIN, 0}};
    for (;;) {
        int r = ::poll(fds, 3, -1);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 0;
        }
        if ((fds[0].revents | fds[1].revents) & POLLIN) {
            return 1;  // the stop event wins over data that is ready at the same time
        }
        if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLNVAL)) {
            return 0;
        }
        if (fds[2].revents == 0) {
            continue;
        }
        if (fds[2].revents & POLLNVAL) {
            return 0;
        }
        ssize_t got = ::recv(sock, assembler.WritePos(), assembler.Room(), MSG_DONTWAIT);
        if (got == 0) {
            return 0;  // the server closed the in connection
        }
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                continue;
            }
            return 0;
        }
        if (assembler.Advance(static_cast<size_t>(got))) {
            std::lock_guard<std::recursive_mutex> g(self->owner_lock_);
            corvex::DispatchFrame(self->frame, assembler.FrameLength(), self->owner_wnd_,
                                  events.get());
            assembler.Clear();
        }
    }
}
