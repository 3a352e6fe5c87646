#include <cstdlib>
#include <cstring>

#include "Internal.h"

namespace {

// SDUs of the operations that bring their own; the RNC echoes them in PDU bytes 2-3.
unsigned char kSduRegister[2] = {0x13, 0x24};
unsigned char kSduLid[2] = {0x13, 0x54};
unsigned char kSduDeregister[2] = {0x12, 0x44};
unsigned char kSduUpload[2] = {0x14, 0x23};
unsigned char kSduFvl[2] = {0x14, 0x83};

constexpr int kSduOffsetInFrame = 6;
constexpr int kUploadWaitMs = 5000;
constexpr unsigned char kRefused = 0x40;
constexpr int kFvlMaxPayload = FRAME_MAX_PDU - 12;
constexpr int kDownloadMinLen = 24;
constexpr int kDownloadMaxLen = FRAME_MAX_PDU + 7;

enum ExchangeResult { kOk = 0, kNotSent, kNoResponse };

}  // namespace

CRnc::CRnc() {
    // Point the descriptors at this object's buffers from the start, so that an operation
    // called before InitServerCon never writes through a null pointer.
    send.data = out_pdu;
    send.sdu = client_sdu;
    recv.data = in_frame;
    recv.sdu = client_sdu;
}

CRnc::~CRnc() {
    if (connected == 1) {
        EndConnection();
    }
}

int CRnc::MakeSocket(server_struct& server, unsigned long id) {
    if (!conn.MakeConnection(&server)) {
        return 0;
    }
    conn.InitConnection(server.in_socket, server.out_socket);
    cid = static_cast<unsigned char>(id & 0xFF);
    return 1;
}

int CRnc::Exchange(int pduLen, int kind, const unsigned char* sdu, int respLen, bool setOffset) {
    send.len = pduLen;
    send.kind = kind;
    send.sdu_offset = 2;
    if (sdu) {
        send.sdu = const_cast<unsigned char*>(sdu);
        recv.sdu = const_cast<unsigned char*>(sdu);
    }
    if (!conn.SendMessageToServer(conn.GetOutSocket(), &send)) {
        return kNotSent;
    }
    recv.len = respLen;
    if (setOffset) {
        recv.sdu_offset = kSduOffsetInFrame;
    }
    if (conn.GetResponce(&recv) < recv.len) {
        return kNoResponse;
    }
    return kOk;
}

int CRnc::InitServerCon() {
    send = {};
    recv = {};
    client_sdu[0] = 0x12;
    client_sdu[1] = 0x34;
    send.sdu = client_sdu;
    recv.sdu = client_sdu;
    send.data = out_pdu;
    recv.data = in_frame;
    recv.sdu_offset = kSduOffsetInFrame;

    out_pdu[0] = OP_SERVER_LINK;
    out_pdu[1] = 0x00;
    out_pdu[4] = cid;
    out_pdu[5] = 0x00;
    send.len = 6;
    send.kind = FRAME_KIND_OPEN;
    send.sdu_offset = 2;
    if (!conn.SendMessageToServer(conn.GetOutSocket(), &send)) {
        return 1;
    }
    if (!conn.SendMessageToServer(conn.GetInSocket(), &send)) {
        return 2;
    }
    return 0;
}

int CRnc::ActivateRnc() {
    out_pdu[0] = OP_ACTIVATE_RNC;
    out_pdu[1] = 0x00;
    switch (Exchange(4, FRAME_KIND_DATA, nullptr, 10, false)) {
        case kNotSent:
            return 3;
        case kNoResponse:
            return 4;
        default:
            return 0;
    }
}

int CRnc::StartFlow() {
    out_pdu[0] = OP_START_FLOW;
    out_pdu[1] = 0x00;
    switch (Exchange(4, FRAME_KIND_DATA, nullptr, 8, false)) {
        case kNotSent:
            conn.TerminateReaderThread();
            return 5;
        case kNoResponse:
            conn.TerminateReaderThread();
            return 6;
        default:
            return 0;
    }
}

int CRnc::RegisterDevice(CString id, unsigned char a1, unsigned char a2, unsigned char a3) {
    InitDeviceID(device_id, id);
    const unsigned char pdu[14] = {
        OP_REGISTER_DEVICE, 0x00, 0,  0,    device_id[0], device_id[1], device_id[2],
        device_id[3],       a1,   a2, 0x01, a3,           0x01,         0x00};
    std::memcpy(out_pdu, pdu, sizeof pdu);
    switch (Exchange(14, FRAME_KIND_DATA, kSduRegister, 19, true)) {
        case kNotSent:
            return 7;
        case kNoResponse:
            inbound_pending = 1;
            return 8;
        default:
            return 0;
    }
}

int CRnc::Re_RegisterDevice(CString id, unsigned char a1, unsigned char a2, unsigned char a3) {
    if (a1 == 0) {
        return a2;
    }
    if (a1 == cid && a2 == cid) {
        return a2;
    }
    FlashInbBuf();
    return RegisterDevice(id, a1, a2, a3);
}

int CRnc::GetLidInformation(CString id, unsigned char& r1, unsigned char& r2, unsigned char& r3) {
    InitDeviceID(device_id, id);
    const unsigned char pdu[12] = {OP_LID_INFORMATION,
                                   0x00,
                                   0,
                                   0,
                                   device_id[0],
                                   device_id[1],
                                   device_id[2],
                                   device_id[3],
                                   device_id[0],
                                   device_id[1],
                                   device_id[2],
                                   device_id[3]};
    std::memcpy(out_pdu, pdu, sizeof pdu);
    r1 = r2 = r3 = 0;
    switch (Exchange(12, FRAME_KIND_DATA, kSduLid, 24, true)) {
        case kNotSent:
            return 9;
        case kNoResponse:
            inbound_pending = 1;
            return 10;
        default:
            r1 = in_frame[13];
            r2 = in_frame[14];
            r3 = in_frame[16];
            return 0;
    }
}

int CRnc::DeRegisterDevice(CString id) {
    InitDeviceID(device_id, id);
    const unsigned char pdu[9] = {
        OP_DEREGISTER_DEVICE, 0x00,         0,   0, device_id[0], device_id[1],
        device_id[2],         device_id[3], 0x01};
    std::memcpy(out_pdu, pdu, sizeof pdu);
    switch (Exchange(9, FRAME_KIND_DATA, kSduDeregister, 14, true)) {
        case kNotSent:
            return 11;
        case kNoResponse:
            inbound_pending = 1;
            return 12;
        default:
            return 0;
    }
}

void CRnc::InitDeviceID(unsigned char* out, CString id) {
    if (!out) {
        return;
    }
    const char* text = id;
    const int length = id.GetLength();
    int start = 0;
    if (length >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        start = 2;
    }
    // Each byte is a pair of hexadecimal digits; reading stops at the end of the text or at
    // the first character that is not a digit, and what was read so far is the value.
    for (int i = 0; i < 4; ++i) {
        int value = 0;
        for (int k = 0; k < 2; ++k) {
            const int pos = start + 2 * i + k;
            const int digit = pos < length ? corvex::HexDigitValue(text[pos]) : -1;
            if (digit < 0) {
                break;
            }
            value = value * 16 + digit;
        }
        out[i] = static_cast<unsigned char>(value);
    }
}

void CRnc::EndConnection() {
    out_pdu[0] = OP_SERVER_LINK;
    out_pdu[1] = 0x00;
    out_pdu[4] = cid;
    out_pdu[5] = 0x00;
    send.len = 6;
    send.kind = FRAME_KIND_CLOSE;
    send.sdu_offset = 2;
    if (conn.SendMessageToServer(conn.GetOutSocket(), &send) &&
        conn.SendMessageToServer(conn.GetInSocket(), &send)) {
        conn.TerminateReaderThread();
    }
    connected = 0;
    // (The socket library needs no clean-up here.)
}

void CRnc::FlashInbBuf() {
    if (!inbound_pending) {
        return;
    }
    recv.len = 522;
    recv.sdu_offset = -1;  // matches nothing: the late response is waited for and dropped
    recv.aux = 2;
    conn.GetResponce(&recv);
    inbound_pending = 0;
}

// ---------------------------------------------------------------------------------------------
// Transfers

namespace {

void WriteDataHeader(unsigned char* pdu, const unsigned char* id, unsigned char sub) {
    pdu[0] = OP_DATA;
    pdu[1] = 0x00;
    std::memcpy(pdu + 4, id, 4);
    pdu[8] = sub;
    pdu[9] = pdu[10] = pdu[11] = 0x00;
}

void ClearUploadEvent() {
    if (auto events = corvex::CurrentEvents()) {
        events->upload.Reset();
    }
}

bool WaitUploadBlock() {
    auto events = corvex::CurrentEvents();
    return events && events->upload.Wait(kUploadWaitMs);
}

}  // namespace

int CRnc::SendDebugMessage() {
    ClearUploadEvent();
    WriteDataHeader(out_pdu, device_id, SUB_UPLOAD);
    const unsigned char tail[4] = {0xB6, 0x14, 0x00, 0x10};
    std::memcpy(out_pdu + 12, tail, 4);
    switch (Exchange(16, FRAME_KIND_DATA, nullptr, 13, true)) {
        case kNotSent:
            return 13;
        case kNoResponse:
            inbound_pending = 1;
            return 14;
        default:
            break;
    }
    if (in_frame[12] >= kRefused) {
        return 15;
    }
    return WaitUploadBlock() ? 0 : 16;
}

int CRnc::Upload(unsigned char* dst) {
    ClearUploadEvent();
    WriteDataHeader(out_pdu, device_id, SUB_UPLOAD);
    const unsigned char tail[4] = {0xB6, 0x00, 0x01, 0xFA};
    std::memcpy(out_pdu + 12, tail, 4);
    switch (Exchange(16, FRAME_KIND_DATA, kSduUpload, 13, true)) {
        case kNotSent:
            return 17;
        case kNoResponse:
            inbound_pending = 1;
            return 18;
        default:
            break;
    }
    if (in_frame[12] >= kRefused) {
        return 19;
    }
    if (!WaitUploadBlock()) {
        return 21;
    }
    unsigned char block[UPLOAD_BUFFER_SIZE];
    const int at = corvex::TakeUpload(block);
    if (at < 0) {
        return 20;
    }
    if (dst) {
        std::memcpy(dst, block, static_cast<size_t>(UPLOAD_BUFFER_SIZE - at));
    }
    return 0;
}

int CRnc::SendFVLmessage(CString id, unsigned char* data, unsigned int len, unsigned char* status) {
    if (len > static_cast<unsigned>(kFvlMaxPayload) || (len > 0 && !data)) {
        if (status) {
            *status = 0xFE;
        }
        return 0;
    }
    unsigned char tempId[4];
    InitDeviceID(tempId, id);
    WriteDataHeader(out_pdu, tempId, SUB_FVL);
    if (len > 0) {
        std::memcpy(out_pdu + 12, data, len);
    }
    switch (Exchange(static_cast<int>(len) + 12, FRAME_KIND_DATA, kSduFvl, 13, true)) {
        case kNotSent:
            if (status) {
                *status = 0xFE;
            }
            return 0;
        case kNoResponse:
            inbound_pending = 1;
            if (status) {
                *status = 0xFF;
            }
            return 0;
        default:
            break;
    }
    const unsigned char answer = in_frame[12];
    if (status) {
        *status = answer;
    }
    return answer < kRefused ? 6 : 21;
}

int CRnc::DownloadBuff(unsigned char* data, int len) {
    if (!data || len < kDownloadMinLen || len > kDownloadMaxLen) {
        return 22;
    }
    std::memcpy(out_pdu + 17, data + 20, static_cast<size_t>(len - 20));
    WriteDataHeader(out_pdu, device_id, SUB_DOWNLOAD);
    const unsigned char tail[5] = {0x02, 0xB6, 0x14, 0x01, 0xE6};
    std::memcpy(out_pdu + 12, tail, 5);
    switch (Exchange(len - 7, FRAME_KIND_DATA, nullptr, 13, true)) {
        case kNotSent:
            return 22;
        case kNoResponse:
            inbound_pending = 1;
            return 23;
        default:
            return in_frame[12] < kRefused ? 0 : 24;
    }
}

void CRnc::GetHostMsg(unsigned char* dst, unsigned long& len) {
    if (!host_queue.IsQueueFull()) {
        return;
    }
    unsigned long got = 0;
    void* msg = host_queue.GetFirstMessage(got);
    if (!msg) {
        return;
    }
    // The caller's buffer holds one frame; a longer entry (queued by hand) is cut to it.
    if (got > static_cast<unsigned long>(FRAME_BUFFER_SIZE)) {
        got = FRAME_BUFFER_SIZE;
    }
    if (dst) {
        std::memcpy(dst, msg, got);
    }
    len = got;
    std::free(msg);
}

void CRnc::RemoveHostMsg() {
    host_queue.BlockQueue();
    host_queue.RemoveMessage(0);
    host_queue.UnBlockQueue();
}
