#pragma once
// Corvex: client library for the RNC, reached over two TCP connections (requests go out on
// one, responses, upload blocks and host messages come back on the other).
//
// This header is all a caller needs. The desktop types the interface was designed around
// (CString, window handles, sockets, WM_HOSTMSG) have small Linux stand-ins here.
//
// The library's own workings live in namespace corvex; the names below stay global because
// client programs use them unqualified, as they did with the desktop library.

#include <strings.h>
#include <atomic>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#if defined(CORVEX_BUILDING)
#define CORVEX_API __attribute__((visibility("default")))
#else
#define CORVEX_API
#endif

// ---------------------------------------------------------------------------------------------
// Desktop stand-ins

// Window message posted to the owner window once per queued host message (wParam 0, lParam 0).
inline constexpr unsigned int WM_HOSTMSG = 1225;

// A socket handle as the records carry it; all bits set means "no socket".
inline constexpr unsigned INVALID_SOCKET = ~0u;

// A window: anything that can be posted a message. The reader thread calls PostMessage from
// its own thread; the window's class decides how to hand the message to the window's thread.
class CHostWindow {
  public:
    virtual ~CHostWindow() = default;
    virtual void PostMessage(unsigned int message, uintptr_t wParam, intptr_t lParam) = 0;
};
using HWND = CHostWindow*;

// A small string value class with the parts of the desktop string the interface uses.
class CString {
  public:
    CString() = default;
    CString(const char* s) : s_(s ? s : "") {}  // implicit on purpose: Register("0012AB34")
    CString(const std::string& s) : s_(s) {}

    int GetLength() const { return static_cast<int>(s_.size()); }
    bool IsEmpty() const { return s_.empty(); }
    CString Left(int n) const { return CString(s_.substr(0, Clamp(n))); }
    CString Mid(int i) const { return CString(s_.substr(Clamp(i))); }
    CString Mid(int i, int n) const {
        size_t from = Clamp(i);
        return CString(s_.substr(from, n < 0 ? 0 : static_cast<size_t>(n)));
    }
    // Writable buffer of at least minLength characters; ReleaseBuffer() takes the length
    // back from the terminating zero.
    char* GetBuffer(int minLength = 0) {
        if (minLength > 0 && static_cast<size_t>(minLength) > s_.size()) {
            s_.resize(static_cast<size_t>(minLength));
        }
        return s_.data();
    }
    void ReleaseBuffer(int newLength = -1) {
        if (newLength < 0) {
            s_.resize(std::strlen(s_.c_str()));
        } else if (static_cast<size_t>(newLength) <= s_.size()) {
            s_.resize(static_cast<size_t>(newLength));
        }
    }
    int CompareNoCase(const char* other) const {
        int r = ::strcasecmp(s_.c_str(), other ? other : "");
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
    operator const char*() const { return s_.c_str(); }
    const std::string& str() const { return s_; }

  private:
    size_t Clamp(int n) const {
        if (n < 0)
            return 0;
        return static_cast<size_t>(n) > s_.size() ? s_.size() : static_cast<size_t>(n);
    }
    std::string s_;
};

namespace corvex {
struct ProcessEvents;
struct ManualEvent;
}  // namespace corvex

// ---------------------------------------------------------------------------------------------
// Message queue: an ordered list of (buffer, length) entries shared by every CMessageQueue
// object of the process, with a per-object recursive lock and a per-object flag that is set
// exactly while the list holds messages.
//
// Buffers handed to AddMessage / InsertMessage must come from malloc: the queue frees them.
// Only AddSingleMessage and GetFirstMessage lock by themselves; wrap the others in
// BlockQueue() / UnBlockQueue() when other threads use the queue.
class CORVEX_API CMessageQueue {
  public:
    CMessageQueue();
    // A copy gets its own lock and flag; the list is shared anyway.
    CMessageQueue(const CMessageQueue& other);
    CMessageQueue& operator=(const CMessageQueue& other);
    ~CMessageQueue();

    unsigned long AddMessage(void* p, unsigned long len);
    unsigned long InsertMessage(void* p, unsigned long len, unsigned long index);
    unsigned long AddSingleMessage(void* src, unsigned long len);
    void* PeekMessageA(unsigned long index, unsigned long& len);
    void* GetMessageA(unsigned long index, unsigned long& len);
    void* GetFirstMessage(unsigned long& len);
    unsigned long GetMsgCount();
    int IsMsgValid(unsigned long index);
    void DeleteMessage(unsigned long index);
    void DeleteAllMessages();
    void RemoveMessage(unsigned long index);
    void RemoveAllMessages();
    void BlockQueue();
    void UnBlockQueue();
    void SetQueueFlag();
    // The flag as a pollable file descriptor (cast through intptr_t): readable exactly while
    // the queue holds messages.
    void* GetQueueFlag();
    // 1 while any message is queued (not a capacity test).
    int IsQueueFull();

  private:
    std::recursive_mutex lock_;
    std::unique_ptr<corvex::ManualEvent> queue_flag_;
};

// The library's queue of host messages, filled by the reader thread.
CORVEX_API extern CMessageQueue host_queue;

// ---------------------------------------------------------------------------------------------
// Records of the transport.

struct server_struct {
    char* host;           // server name or dotted IPv4 address
    int in_port;          // port of the in connection
    int out_port;         // port of the out connection
    unsigned in_socket;   // filled by MakeConnection
    unsigned out_socket;  // filled by MakeConnection
};

struct send_struct {
    unsigned char* data;  // the PDU; the SDU is written into it
    int len;              // PDU length
    int kind;             // frame kind byte
    unsigned char* sdu;   // the 2 SDU bytes
    int sdu_offset;       // PDU offset of the SDU
};

struct recv_struct {
    unsigned char* data;  // where the recognised response frame is copied
    int len;              // bytes of it copied, header included
    unsigned char* sdu;   // the 2 SDU bytes to look for
    int sdu_offset;       // frame offset (header included) of the SDU
    int aux;              // not read by the transport
};

// Frame: 2-byte big-endian PDU length n, 0x00, kind, then n PDU bytes.
inline constexpr int FRAME_BUFFER_SIZE = 5008;
inline constexpr int FRAME_MAX_PDU = FRAME_BUFFER_SIZE - 4;
inline constexpr int FRAME_KIND_DATA = 0;
inline constexpr int FRAME_KIND_OPEN = 2;
inline constexpr int FRAME_KIND_CLOSE = 4;
inline constexpr int UPLOAD_BUFFER_SIZE = 1024;

// Class of a received frame, from its PDU opcode (and PDU byte 8 for three opcodes).
enum FrameClass { FRAME_IGNORED = 0, FRAME_RESPONSE, FRAME_UPLOAD, FRAME_HOST_MESSAGE };

// ---------------------------------------------------------------------------------------------
// Reader: the watch thread on the in connection. It assembles frames and hands responses to
// the response wait, upload blocks to the upload operations and host messages to host_queue
// (posting WM_HOSTMSG to the owner window).
class CORVEX_API CTcpReader {
  public:
    CTcpReader();
    CTcpReader(const CTcpReader&) = delete;
    CTcpReader& operator=(const CTcpReader&) = delete;
    // Stops and waits for the watch thread, then lets go of the process-wide events.
    virtual ~CTcpReader();

    int Init(unsigned socket);
    int CreateWatchThread();
    static unsigned WatchProc(void* reader);
    // Host messages are queued and posted only while an owner window is set. Once this
    // returns, the previous window is no longer called (a post in progress is waited for), so
    // a caller may set null and then destroy its window.
    void SetOwnerWnd(HWND wnd);

    // Stops this reader's thread (only this one) and waits for it. Safe when none runs.
    void StopWatchThread();
    // Whether the watch thread is still running.
    bool IsRunning() const { return running_.load(); }
    // Exit code of the last watch thread: 1 after the stop event, 0 after a failure, -1 while
    // none has ended.
    int ExitCode() const { return exit_code_.load(); }

    uint32_t thread_id = 0;
    unsigned socket = INVALID_SOCKET;
    unsigned char frame[FRAME_BUFFER_SIZE] = {};

  private:
    std::thread thread_;
    std::recursive_mutex owner_lock_;  // held by the thread while it hands a frame on
    HWND owner_wnd_ = nullptr;
    std::atomic<bool> running_{false};
    std::atomic<int> exit_code_{-1};
    std::shared_ptr<corvex::ProcessEvents> events_;
    std::unique_ptr<corvex::ManualEvent> quit_;  // this reader's own stop
};

// ---------------------------------------------------------------------------------------------
// The pair of TCP connections to one server, with framing and response matching by SDU.
// Every step of the exchange is virtual so that a derived class can replace it.
class CORVEX_API CTcpIpConnection {
  public:
    CTcpIpConnection();
    CTcpIpConnection(const CTcpIpConnection&) = delete;
    CTcpIpConnection& operator=(const CTcpIpConnection&) = delete;
    // Stops the reader thread and waits for it, then closes both sockets.
    virtual ~CTcpIpConnection();

    virtual int InitConnection(unsigned in_socket, unsigned out_socket);
    virtual void ResetConnection();
    virtual int connect_server(unsigned* sock, char* host, int port);
    virtual int SendMessageToServer(unsigned sock, send_struct* s);
    virtual int MessageIsResponse(unsigned char* frame, unsigned char* sdu, int offset);
    virtual int PrepareCommand(unsigned char* pdu, int len, int kind);
    virtual void SetSdu(unsigned char* pdu, unsigned char* sdu, int offset);
    virtual int GetResponce(recv_struct* r);
    virtual int MakeConnection(server_struct* server);
    virtual int CreateReaderThread();
    virtual int TerminateReaderThread();

    int SendNetMessage(void* buf, int len, unsigned sock);
    unsigned GetInSocket() { return in_socket; }
    unsigned GetOutSocket() { return out_socket; }
    void SetOwnerWnd(HWND wnd) { reader.SetOwnerWnd(wnd); }

    unsigned in_socket = INVALID_SOCKET;
    unsigned out_socket = INVALID_SOCKET;
    CTcpReader reader;
};

// ---------------------------------------------------------------------------------------------
// The RNC client. Calling order: MakeSocket, InitServerCon, ActivateRnc, StartFlow,
// SetConnected, device operations and transfers, EndConnection. Results: 0 for success, a
// distinct number for each failure (MakeSocket: 1 success, 0 failure).
class CORVEX_API CRnc {
  public:
    CRnc();
    CRnc(const CRnc&) = delete;
    CRnc& operator=(const CRnc&) = delete;
    // Sends the close message first when still connected.
    ~CRnc();

    int MakeSocket(server_struct& server, unsigned long cid);
    int InitServerCon();
    int ActivateRnc();
    int StartFlow();
    void SetConnected() { connected = 1; }
    int IsConnected() { return connected; }
    unsigned char GetCID() { return cid; }
    void SetEventMsgWnd(HWND wnd) { conn.SetOwnerWnd(wnd); }

    int RegisterDevice(CString id, unsigned char a1, unsigned char a2, unsigned char a3);
    int Re_RegisterDevice(CString id, unsigned char a1, unsigned char a2, unsigned char a3);
    int GetLidInformation(CString id, unsigned char& r1, unsigned char& r2, unsigned char& r3);
    int DeRegisterDevice(CString id);
    void InitDeviceID(unsigned char* out, CString id);
    void EndConnection();
    void FlashInbBuf();

    int SendDebugMessage();
    int Upload(unsigned char* dst);
    int SendFVLmessage(CString id, unsigned char* data, unsigned int len, unsigned char* status);
    int DownloadBuff(unsigned char* data, int len);
    void GetHostMsg(unsigned char* dst, unsigned long& len);
    void RemoveHostMsg();

    unsigned char out_pdu[FRAME_BUFFER_SIZE] = {};
    unsigned char in_frame[FRAME_BUFFER_SIZE] = {};
    unsigned char client_sdu[2] = {};
    send_struct send = {};
    recv_struct recv = {};
    unsigned char cid = 0;
    unsigned char device_id[4] = {};
    int inbound_pending = 0;
    int connected = 0;
    CTcpIpConnection conn;

  private:
    int Exchange(int pduLen, int kind, const unsigned char* sdu, int respLen, bool setOffset);
};

// Opcodes of the requests.
inline constexpr unsigned char OP_START_FLOW = 0x01;
inline constexpr unsigned char OP_REGISTER_DEVICE = 0x06;
inline constexpr unsigned char OP_DEREGISTER_DEVICE = 0x07;
inline constexpr unsigned char OP_LID_INFORMATION = 0x08;
inline constexpr unsigned char OP_DATA = 0x29;
inline constexpr unsigned char OP_SERVER_LINK = 0x72;
inline constexpr unsigned char OP_ACTIVATE_RNC = 0x76;
inline constexpr unsigned char SUB_UPLOAD = 0x6D;
inline constexpr unsigned char SUB_FVL = 0x40;
inline constexpr unsigned char SUB_DOWNLOAD = 0x67;
// Every upload block handed to the caller starts with this marker.
inline constexpr char UPLOAD_MARKER[] = "KQB274MufTEzWobXAD";
inline constexpr int UPLOAD_MARKER_LEN = 18;
