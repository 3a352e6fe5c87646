// Frame assembly, hand-over, the reader thread and the send path, from inside the library.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Internal.h"
#include "TestWindow.h"
#include "corvex/Corvex.h"

using corvex::FrameAssembler;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Frame(Bytes pdu, unsigned char kind = 0) {
    Bytes f = {static_cast<unsigned char>(pdu.size() >> 8), static_cast<unsigned char>(pdu.size()),
               0, kind};
    f.insert(f.end(), pdu.begin(), pdu.end());
    return f;
}

// Feeds a byte stream to an assembler in pieces of the given size and collects the frames.
std::vector<Bytes> Assemble(const Bytes& stream, size_t piece) {
    static unsigned char buffer[FRAME_BUFFER_SIZE];
    FrameAssembler a(buffer);
    std::vector<Bytes> frames;
    size_t pos = 0;
    while (pos < stream.size()) {
        size_t n = std::min({piece, a.Room(), stream.size() - pos});
        EXPECT_GT(a.Room(), 0u);
        EXPECT_LE(a.WritePos() + a.Room(), buffer + FRAME_BUFFER_SIZE);
        std::memcpy(a.WritePos(), stream.data() + pos, n);
        pos += n;
        if (a.Advance(n)) {
            frames.emplace_back(buffer, buffer + a.FrameLength());
            a.Clear();
        }
    }
    return frames;
}

// ---------------------------------------------------------------------------------------------
// Frame assembly

TEST(FrameAssembly, FramesComeOutWholeWhateverThePieces) {
    Bytes a = Frame({0x81, 0, 0x12, 0x34, 1, 2, 3});
    Bytes b = Frame(Bytes(300, 0xAD));
    Bytes stream = a;
    stream.insert(stream.end(), b.begin(), b.end());
    for (size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
        auto frames = Assemble(stream, piece);
        ASSERT_EQ(frames.size(), 2u) << piece;
        EXPECT_EQ(frames[0], a);
        EXPECT_EQ(frames[1], b);
    }
}

TEST(FrameAssembly, ZeroLengthFrameIsConsumedAndNotHandedOn) {
    Bytes stream = {0, 0, 0, 0};
    Bytes f = Frame({0x81, 0, 1, 2});
    stream.insert(stream.end(), f.begin(), f.end());
    for (size_t piece : {1u, 4u, 100u}) {
        auto frames = Assemble(stream, piece);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], f);
    }
}

TEST(FrameAssembly, OversizeFrameIsSkippedAndTheStreamStaysInStep) {
    Bytes stream = {0x13, 0x8D, 0, 0};  // 5005: one byte too long
    stream.resize(stream.size() + 5005, 0xEE);
    Bytes big = Frame(Bytes(FRAME_MAX_PDU, 0x81));  // the largest that fits
    Bytes f = Frame({0xAD, 0, 9, 9});
    stream.insert(stream.end(), big.begin(), big.end());
    stream.insert(stream.end(), {0xFF, 0xFF, 0, 0});
    stream.resize(stream.size() + 65535, 0x81);
    stream.insert(stream.end(), f.begin(), f.end());
    for (size_t piece : {1u, 4096u, 70000u}) {
        auto frames = Assemble(stream, piece);
        ASSERT_EQ(frames.size(), 2u) << piece;
        EXPECT_EQ(frames[0], big);
        EXPECT_EQ(frames[1], f);
    }
}

TEST(FrameAssembly, Classification) {
    auto cls = [](unsigned char op, unsigned char byte8) {
        unsigned char frame[FRAME_BUFFER_SIZE] = {};
        frame[4] = op;
        frame[12] = byte8;
        return corvex::Classify(frame);
    };
    EXPECT_EQ(cls(0x81, 0), FRAME_RESPONSE);
    EXPECT_EQ(cls(0xFF, 0x6D), FRAME_RESPONSE);
    EXPECT_EQ(cls(0x72, 0), FRAME_IGNORED);
    EXPECT_EQ(cls(0x00, 0x6D), FRAME_IGNORED);
    for (unsigned char op : {0x8C, 0x8D, 0xAC}) {
        EXPECT_EQ(cls(op, 0x6D), FRAME_UPLOAD);
        EXPECT_EQ(cls(op, 0x00), FRAME_HOST_MESSAGE);
    }
    EXPECT_EQ(cls(0xAD, 0x6D), FRAME_HOST_MESSAGE);
    EXPECT_EQ(cls(0xAF, 0), FRAME_HOST_MESSAGE);
}

// ---------------------------------------------------------------------------------------------
// Upload buffer

TEST(UploadBuffer, MarkerAtZeroHandsOverAll1024Bytes) {
    Bytes block(UPLOAD_BUFFER_SIZE);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>(i);
    std::memcpy(block.data(), UPLOAD_MARKER, UPLOAD_MARKER_LEN);
    corvex::StoreUpload(block.data(), block.size());
    Bytes dst(UPLOAD_BUFFER_SIZE, 0);
    EXPECT_EQ(corvex::TakeUpload(dst.data()), 0);
    EXPECT_EQ(dst, block);
}

TEST(UploadBuffer, MarkerAtFourHands1020Bytes) {
    Bytes block(UPLOAD_BUFFER_SIZE, 0x33);
    std::memcpy(block.data() + 4, UPLOAD_MARKER, UPLOAD_MARKER_LEN);
    block[UPLOAD_BUFFER_SIZE - 1] = 0x44;
    corvex::StoreUpload(block.data(), block.size());
    Bytes dst(UPLOAD_BUFFER_SIZE, 0x5A);
    EXPECT_EQ(corvex::TakeUpload(dst.data()), 4);
    EXPECT_EQ(std::memcmp(dst.data(), UPLOAD_MARKER, UPLOAD_MARKER_LEN), 0);
    EXPECT_EQ(dst[1019], 0x44);
    EXPECT_EQ(dst[1020], 0x5A);
}

TEST(UploadBuffer, MarkerAt19IsFoundAt20IsNot) {
    Bytes block(UPLOAD_BUFFER_SIZE, 0);
    std::memcpy(block.data() + 19, UPLOAD_MARKER, UPLOAD_MARKER_LEN);
    corvex::StoreUpload(block.data(), block.size());
    Bytes dst(UPLOAD_BUFFER_SIZE, 0x5A);
    EXPECT_EQ(corvex::TakeUpload(dst.data()), 19);
    std::fill(block.begin(), block.end(), 0);
    std::memcpy(block.data() + 20, UPLOAD_MARKER, UPLOAD_MARKER_LEN);
    corvex::StoreUpload(block.data(), block.size());
    std::fill(dst.begin(), dst.end(), 0x5A);
    EXPECT_EQ(corvex::TakeUpload(dst.data()), -1);
    EXPECT_EQ(dst, Bytes(UPLOAD_BUFFER_SIZE, 0x5A));
}

TEST(UploadBuffer, ShortFrameLeavesZerosBehindIt) {
    Bytes big(UPLOAD_BUFFER_SIZE, 0x77);
    corvex::StoreUpload(big.data(), big.size());
    Bytes small(40, 0);
    std::memcpy(small.data(), UPLOAD_MARKER, UPLOAD_MARKER_LEN);
    corvex::StoreUpload(small.data(), small.size());
    Bytes dst(UPLOAD_BUFFER_SIZE, 0x5A);
    ASSERT_EQ(corvex::TakeUpload(dst.data()), 0);
    EXPECT_EQ(dst[40], 0);
    EXPECT_EQ(dst[1023], 0);
}

// ---------------------------------------------------------------------------------------------
// Device IDs

TEST(DeviceId, ParsesWithAndWithoutPrefix) {
    CRnc rnc;
    unsigned char id[4];
    rnc.InitDeviceID(id, "0X00a0FF01");
    EXPECT_EQ(Bytes(id, id + 4), (Bytes{0x00, 0xA0, 0xFF, 0x01}));
    rnc.InitDeviceID(id, "12345678");
    EXPECT_EQ(Bytes(id, id + 4), (Bytes{0x12, 0x34, 0x56, 0x78}));
    rnc.InitDeviceID(id, "0012ab34");
    EXPECT_EQ(Bytes(id, id + 4), (Bytes{0x00, 0x12, 0xAB, 0x34}));
    // A short text never reads past its end.
    rnc.InitDeviceID(id, "0x12");
    EXPECT_EQ(id[0], 0x12);
    EXPECT_EQ(id[1], 0);
}

// ---------------------------------------------------------------------------------------------
// Reader thread and response matching over a socket pair

class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearHostQueue();
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        // fds[0] is the connection's in and out socket; the test plays the server on fds[1].
        conn.InitConnection(static_cast<unsigned>(fds[0]), static_cast<unsigned>(fds[0]));
        ASSERT_EQ(conn.CreateReaderThread(), 1);
        ASSERT_TRUE(conn.reader.IsRunning());
    }
    void TearDown() override {
        conn.reader.StopWatchThread();
        conn.in_socket = INVALID_SOCKET;  // one descriptor serves as both
        ClearHostQueue();
    }
    void Write(const Bytes& b) {
        ASSERT_EQ(::write(fds[1], b.data(), b.size()), ssize_t(b.size()));
    }
    Bytes ReadPeer(size_t n) {
        Bytes b(n);
        size_t got = 0;
        while (got < n) {
            ssize_t r = ::read(fds[1], b.data() + got, n - got);
            if (r <= 0)
                break;
            got += static_cast<size_t>(r);
        }
        b.resize(got);
        return b;
    }
    ~ReaderTest() override { ::close(fds[1]); }

    int fds[2] = {-1, -1};
    TestWindow window;  // outlives the reader
    CTcpIpConnection conn;
    unsigned char sdu[2] = {0x12, 0x34};
};

TEST_F(ReaderTest, ResponseIsMatchedByItsSdu) {
    unsigned char data[10];
    recv_struct r{data, 10, sdu, 6, 0};
    Write(Frame({0x72, 0, 0x12, 0x34, 0xEE}));  // ignored class, even with the right SDU
    Write(Frame({0x81, 0, 0x12, 0x34, 0x55}));
    EXPECT_EQ(conn.GetResponce(&r), 10);
    EXPECT_EQ(Bytes(data, data + 10), (Bytes{0, 5, 0, 0, 0x81, 0, 0x12, 0x34, 0x55, 0}));
}

TEST_F(ReaderTest, ResponseShorterThanAskedIsPaddedWithZeros) {
    unsigned char data[30];
    std::memset(data, 0x5A, sizeof data);
    recv_struct r{data, 24, sdu, 6, 0};
    Write(Frame({0x88, 0, 0x12, 0x34}));
    EXPECT_EQ(conn.GetResponce(&r), 24);
    EXPECT_EQ(data[8], 0);
    EXPECT_EQ(data[23], 0);
    EXPECT_EQ(data[24], 0x5A);
}

TEST_F(ReaderTest, OtherSduIsExaminedFourTimesThenGivenUp) {
    unsigned char data[10];
    recv_struct r{data, 10, sdu, 6, 0};
    Write(Frame({0x81, 0, 0x99, 0x99}));
    EXPECT_EQ(conn.GetResponce(&r), 0);
    EXPECT_EQ(Bytes(data, data + 10), Bytes(10, 0));
}

TEST_F(ReaderTest, ResponseMatchingOnlyOneByteOfTheSduIsNotTheAnswer) {
    for (const Bytes& other : {Bytes{0x12, 0x35}, Bytes{0x13, 0x34}}) {
        unsigned char data[10];
        recv_struct r{data, 10, sdu, 6, 0};
        Write(Frame({0x81, 0, other[0], other[1], 0x55}));
        EXPECT_EQ(conn.GetResponce(&r), 0) << int(other[0]) << " " << int(other[1]);
        EXPECT_EQ(Bytes(data, data + 10), Bytes(10, 0));
        unsigned char frame[FRAME_BUFFER_SIZE] = {};
        frame[6] = other[0];
        frame[7] = other[1];
        EXPECT_EQ(conn.MessageIsResponse(frame, sdu, 6), 0);
    }
}

TEST_F(ReaderTest, NoResponseTimesOutWithTheDataCleared) {
    unsigned char data[10];
    std::memset(data, 0x5A, sizeof data);
    recv_struct r{data, 10, sdu, 6, 0};
    EXPECT_EQ(conn.GetResponce(&r), 0);
    EXPECT_EQ(Bytes(data, data + 10), Bytes(10, 0));
}

TEST_F(ReaderTest, SendingClearsAnOldResponse) {
    unsigned char data[10];
    recv_struct r{data, 10, sdu, 6, 0};
    Write(Frame({0x81, 0, 0x12, 0x34}));
    ASSERT_EQ(conn.GetResponce(&r), 10);  // the event stays set after a match
    unsigned char pdu[4] = {0x01, 0, 0, 0};
    send_struct s{pdu, 4, 0, sdu, 2};
    ASSERT_EQ(conn.SendMessageToServer(INVALID_SOCKET, &s), 8);
    EXPECT_EQ(ReadPeer(8), (Bytes{0, 4, 0, 0, 0x01, 0, 0x12, 0x34}));
    Write(Frame({0x81, 0, 0x12, 0x34, 0x02}));
    ASSERT_EQ(conn.GetResponce(&r), 10);
    EXPECT_EQ(data[8], 0x02);  // the new one, not the old one
}

TEST_F(ReaderTest, MessageIsResponseNeverMatchesANegativeOffset) {
    unsigned char frame[FRAME_BUFFER_SIZE] = {};
    frame[0] = 0x12;
    frame[1] = 0x34;
    EXPECT_EQ(conn.MessageIsResponse(frame, sdu, 0), 1);
    EXPECT_EQ(conn.MessageIsResponse(frame, sdu, -1), 0);
    EXPECT_EQ(conn.MessageIsResponse(frame, sdu, FRAME_BUFFER_SIZE - 1), 0);
}

TEST_F(ReaderTest, HostMessagesNeedAnOwnerWindow) {
    Write(Frame({0xAD, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    // A response behind it: once that is in, the reader has dealt with the host message.
    Write(Frame({0x81, 0, 0x12, 0x34}));
    unsigned char data[8];
    recv_struct r{data, 8, sdu, 6, 0};
    ASSERT_EQ(conn.GetResponce(&r), 8);
    EXPECT_EQ(HostQueueCount(), 0u);
    conn.SetOwnerWnd(&window);
    Bytes second = Frame({0xAD, 0, 0, 0, 0, 0, 0, 0, 0, 2});
    for (unsigned char b : second)
        Write({b});  // one byte at a time
    ASSERT_TRUE(window.WaitPosts(1));
    EXPECT_TRUE(window.LastWasHostMsg());
    unsigned long len = 0;
    void* m = host_queue.GetFirstMessage(len);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(Bytes(static_cast<unsigned char*>(m), static_cast<unsigned char*>(m) + len), second);
    std::free(m);
    EXPECT_EQ(window.Posts(), 1);
}

TEST_F(ReaderTest, WindowMayGoAwayOnceUnset) {
    auto* temporary = new TestWindow;
    conn.SetOwnerWnd(temporary);
    for (int i = 0; i < 50; ++i)
        Write(Frame({0xAD, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    ASSERT_TRUE(temporary->WaitPosts(1));
    conn.SetOwnerWnd(nullptr);
    delete temporary;  // no post may reach it any more
    Write(Frame({0xAD, 0, 0, 0, 0, 0, 0, 0, 0, 2}));
    Write(Frame({0x81, 0, 0x12, 0x34}));
    unsigned char data[8];
    recv_struct r{data, 8, sdu, 6, 0};
    EXPECT_EQ(conn.GetResponce(&r), 8);
    EXPECT_LE(HostQueueCount(), 50u);
}

TEST_F(ReaderTest, StopWhileAFrameIsHalfReceivedEndsWithOne) {
    Write({0x00, 0x10, 0x00, 0x00, 0x81});
    EXPECT_EQ(conn.TerminateReaderThread(), 1);
    EXPECT_FALSE(conn.reader.IsRunning());
    EXPECT_EQ(conn.reader.ExitCode(), 1);
}

TEST_F(ReaderTest, EndOfFileEndsTheReaderWithZero) {
    ::shutdown(fds[1], SHUT_WR);
    for (int i = 0; i < 1500 && conn.reader.IsRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(conn.reader.IsRunning());
    EXPECT_EQ(conn.reader.ExitCode(), 0);
}

TEST_F(ReaderTest, RestartingTheReaderStopsTheOldOne) {
    ASSERT_EQ(conn.CreateReaderThread(), 1);
    ASSERT_EQ(conn.CreateReaderThread(), 1);
    unsigned char data[10];
    recv_struct r{data, 10, sdu, 6, 0};
    Write(Frame({0x81, 0, 0x12, 0x34}));
    EXPECT_EQ(conn.GetResponce(&r), 10);
}

TEST(ReaderLifetime, DestroyingAConnectionStopsItsReader) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    TestWindow window;
    {
        CTcpIpConnection conn;
        conn.InitConnection(static_cast<unsigned>(fds[0]), INVALID_SOCKET);
        conn.SetOwnerWnd(&window);
        ASSERT_EQ(conn.CreateReaderThread(), 1);
        Bytes f = Frame({0xAD, 0, 0, 0, 0, 0, 0, 0, 0, 1});
        ASSERT_EQ(::write(fds[1], f.data(), f.size()), ssize_t(f.size()));
        ASSERT_TRUE(window.WaitPosts(1));
    }
    // The connection closed its socket and its thread is gone: more data goes nowhere.
    Bytes f = Frame({0xAD, 0, 0, 0, 0, 0, 0, 0, 0, 2});
    EXPECT_LT(::send(fds[1], f.data(), f.size(), MSG_NOSIGNAL), 0);
    ::close(fds[1]);
    ClearHostQueue();
}

// ---------------------------------------------------------------------------------------------
// Sending

std::atomic<int> g_sendCalls{0};
ssize_t OneBytePerCall(int fd, const void* buf, size_t len, int flags) {
    ++g_sendCalls;
    return ::send(fd, buf, len ? 1 : 0, flags);
}
ssize_t FullThenBroken(int, const void*, size_t, int) {
    ++g_sendCalls;
    errno = EPIPE;
    return -1;
}
ssize_t BusyTwice(int fd, const void* buf, size_t len, int flags) {
    if (++g_sendCalls <= 2) {
        errno = EAGAIN;
        return -1;
    }
    return ::send(fd, buf, len, flags);
}

class SendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        conn.InitConnection(INVALID_SOCKET, static_cast<unsigned>(fds[0]));
        g_sendCalls = 0;
    }
    void TearDown() override {
        corvex::g_send = &::send;
        ::close(fds[1]);
    }
    Bytes Pending() {
        Bytes b(FRAME_BUFFER_SIZE * 2);
        ssize_t n = ::recv(fds[1], b.data(), b.size(), MSG_DONTWAIT);
        b.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return b;
    }
    int fds[2];
    CTcpIpConnection conn;
};

TEST_F(SendTest, FrameOfFourBytesIsEightBytesOnTheWire) {
    unsigned char pdu[4] = {0x01, 0x00, 0xAA, 0xBB};
    unsigned char sdu[2] = {0x12, 0x34};
    send_struct s{pdu, 4, 0, sdu, 2};
    EXPECT_EQ(conn.SendMessageToServer(conn.GetOutSocket(), &s), 8);
    EXPECT_EQ(Pending(), (Bytes{0, 4, 0, 0, 0x01, 0x00, 0x12, 0x34}));
    EXPECT_EQ(pdu[2], 0x12);  // the SDU went into the caller's PDU
}

TEST_F(SendTest, PeerTakingOneBytePerCallGetsTheWholeFrame) {
    corvex::g_send = &OneBytePerCall;
    unsigned char pdu[6] = {0x72, 0, 0, 0, 5, 0};
    unsigned char sdu[2] = {0x12, 0x34};
    send_struct s{pdu, 6, 2, sdu, 2};
    EXPECT_EQ(conn.SendMessageToServer(INVALID_SOCKET, &s), 10);
    EXPECT_EQ(g_sendCalls.load(), 10);
    EXPECT_EQ(Pending(), (Bytes{0, 6, 0, 2, 0x72, 0, 0x12, 0x34, 5, 0}));
}

TEST_F(SendTest, BusyPeerIsRetriedAndAHardErrorIsNot) {
    corvex::g_send = &BusyTwice;
    unsigned char buf[3] = {1, 2, 3};
    EXPECT_EQ(conn.SendNetMessage(buf, 3, INVALID_SOCKET), 3);
    EXPECT_EQ(Pending(), (Bytes{1, 2, 3}));
    g_sendCalls = 0;
    corvex::g_send = &FullThenBroken;
    EXPECT_EQ(conn.SendNetMessage(buf, 3, INVALID_SOCKET), 0);
    EXPECT_EQ(g_sendCalls.load(), 1);
}

TEST_F(SendTest, PduTooLongForAFrameIsNotSent) {
    Bytes pdu(FRAME_MAX_PDU + 1, 0);
    unsigned char sdu[2] = {0x12, 0x34};
    send_struct s{pdu.data(), FRAME_MAX_PDU + 1, 0, sdu, 2};
    EXPECT_EQ(conn.SendMessageToServer(INVALID_SOCKET, &s), 0);
    EXPECT_TRUE(Pending().empty());
    s.len = FRAME_MAX_PDU;
    EXPECT_EQ(conn.SendMessageToServer(INVALID_SOCKET, &s), FRAME_BUFFER_SIZE);
}

TEST_F(SendTest, ClosedPeerFailsWithoutSigpipe) {
    ::close(fds[1]);
    fds[1] = ::dup(fds[0]);  // keep TearDown's close harmless
    ::shutdown(fds[0], SHUT_WR);
    unsigned char buf[3] = {1, 2, 3};
    EXPECT_EQ(conn.SendNetMessage(buf, 3, INVALID_SOCKET), 0);
}

}  // namespace
