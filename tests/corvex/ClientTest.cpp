// The RNC client over loopback against rnc-sim, through the exported interface only.

#include <corvex/Corvex.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SimProcess.h"
#include "TestWindow.h"

namespace {

std::string Hex(const unsigned char* p, size_t n) {
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

// Waits for the reader thread to end (abort path only; the tests assert on the outcome).
bool WaitReaderEnded(CRnc& rnc) {
    for (int i = 0; i < 1500 && rnc.conn.reader.IsRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !rnc.conn.reader.IsRunning();
}

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

class RncTest : public ::testing::Test {
  protected:
    explicit RncTest(std::vector<std::string> simArgs = {}) : sim(std::move(simArgs)) {}

    void SetUp() override {
        ClearHostQueue();
        ASSERT_TRUE(sim.ok());
    }
    void TearDown() override { ClearHostQueue(); }

    int Connect(unsigned long cid = 5) {
        server = {host, sim.inPort, sim.outPort, INVALID_SOCKET, INVALID_SOCKET};
        return rnc.MakeSocket(server, cid);
    }

    // Links, announces, activates and starts the flow, consuming what the simulator logged.
    void Link(unsigned long cid = 5) {
        ASSERT_EQ(Connect(cid), 1);
        ASSERT_EQ(rnc.InitServerCon(), 0);
        ASSERT_EQ(rnc.ActivateRnc(), 0);
        ASSERT_EQ(rnc.StartFlow(), 0);
        rnc.SetConnected();
        sim.NextFrame("OUT");
        sim.NextFrame("IN");
        sim.NextFrame("OUT");
        sim.NextFrame("OUT");
    }

    void Register() {
        ASSERT_EQ(rnc.RegisterDevice("0012AB34", 1, 2, 3), 0);
        sim.NextFrame("OUT");
    }

    char host[16] = "127.0.0.1";
    SimProcess sim;
    server_struct server{};
    TestWindow window;  // outlives the client and its reader
    CRnc rnc;
};

// ---------------------------------------------------------------------------------------------
// Link set-up and tear-down

TEST_F(RncTest, LinkMessagesAreByteExact) {
    ASSERT_EQ(Connect(0x105), 1);  // only the low byte of the CID is kept
    EXPECT_EQ(rnc.GetCID(), 5);
    EXPECT_NE(rnc.conn.GetInSocket(), INVALID_SOCKET);
    EXPECT_EQ(rnc.conn.GetOutSocket(), server.out_socket);
    EXPECT_EQ(rnc.InitServerCon(), 0);
    EXPECT_EQ(sim.NextFrame("OUT"), "00060002720012340500");
    EXPECT_EQ(sim.NextFrame("IN"), "00060002720012340500");
    EXPECT_EQ(rnc.ActivateRnc(), 0);
    EXPECT_EQ(sim.NextFrame("OUT"), "0004000076001234");
    EXPECT_EQ(rnc.StartFlow(), 0);
    EXPECT_EQ(sim.NextFrame("OUT"), "0004000001001234");
    EXPECT_EQ(rnc.IsConnected(), 0);  // only SetConnected sets it
    rnc.SetConnected();
    EXPECT_EQ(rnc.IsConnected(), 1);
}

TEST_F(RncTest, EndConnectionRightAfterInitSendsCloseOnBothAndStopsReader) {
    ASSERT_EQ(Connect(), 1);
    ASSERT_EQ(rnc.InitServerCon(), 0);
    rnc.SetConnected();
    rnc.EndConnection();
    EXPECT_EQ(rnc.IsConnected(), 0);
    EXPECT_FALSE(rnc.conn.reader.IsRunning());
    EXPECT_EQ(rnc.conn.reader.ExitCode(), 1);
    sim.NextFrame("OUT");
    sim.NextFrame("IN");
    EXPECT_EQ(sim.NextFrame("OUT"), "00060004720012340500");
    EXPECT_EQ(sim.NextFrame("IN"), "00060004720012340500");
}

TEST_F(RncTest, RefusedInConnectionLeavesNoSocketOpen) {
    // A port nobody listens on: bind one, read its number, close it again.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
    const int deadPort = ntohs(a.sin_port);
    ::close(probe);

    const int before = OpenDescriptors();
    server = {host, deadPort, sim.outPort, INVALID_SOCKET, INVALID_SOCKET};
    EXPECT_EQ(rnc.MakeSocket(server, 5), 0);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(server.out_socket, INVALID_SOCKET);
    EXPECT_EQ(rnc.conn.GetOutSocket(), INVALID_SOCKET);
    // The out connection was made first, then closed again.
    EXPECT_NE(sim.WaitFor("DISCONNECTED OUT"), "");
}

TEST_F(RncTest, BrokenInConnectionMakesInitServerConReturn2) {
    ASSERT_EQ(Connect(), 1);
    ::shutdown(static_cast<int>(rnc.conn.GetInSocket()), SHUT_WR);
    EXPECT_EQ(rnc.InitServerCon(), 2);
    EXPECT_EQ(sim.NextFrame("OUT"), "00060002720012340500");
    EXPECT_NE(sim.WaitFor("DISCONNECTED IN"), "");
    EXPECT_FALSE(sim.Seen("RECV IN"));
}

TEST_F(RncTest, BrokenOutConnectionMakesInitServerConReturn1) {
    ASSERT_EQ(Connect(), 1);
    ::shutdown(static_cast<int>(rnc.conn.GetOutSocket()), SHUT_WR);
    EXPECT_EQ(rnc.InitServerCon(), 1);
    EXPECT_EQ(rnc.ActivateRnc(), 3);
}

TEST_F(RncTest, EndConnectionWhoseFirstSendFailsLeavesReaderRunning) {
    Link();
    rnc.SetEventMsgWnd(&window);
    ::shutdown(static_cast<int>(rnc.conn.GetOutSocket()), SHUT_WR);
    rnc.EndConnection();
    EXPECT_EQ(rnc.IsConnected(), 0);
    EXPECT_TRUE(rnc.conn.reader.IsRunning());
    // The reader still delivers host messages...
    ASSERT_TRUE(sim.Command("host AD0000000000000000"));
    EXPECT_TRUE(window.WaitPosts(1));
    // ...and nothing went out on the in connection.
    ASSERT_TRUE(sim.Command("delay 0"));
    EXPECT_FALSE(sim.Seen("RECV IN"));
}

TEST(RncLifetime, DestroyingSendsCloseOnlyWhenConnected) {
    ClearHostQueue();
    SimProcess sim;
    ASSERT_TRUE(sim.ok());
    char host[] = "127.0.0.1";
    {
        CRnc rnc;
        server_struct s{host, sim.inPort, sim.outPort, INVALID_SOCKET, INVALID_SOCKET};
        ASSERT_EQ(rnc.MakeSocket(s, 7), 1);
        ASSERT_EQ(rnc.InitServerCon(), 0);
    }
    EXPECT_EQ(sim.NextFrame("OUT"), "00060002720012340700");
    EXPECT_NE(sim.WaitFor("DISCONNECTED OUT"), "");
    EXPECT_FALSE(sim.Seen("RECV OUT"));  // nothing but the open message
    {
        CRnc rnc;
        server_struct s{host, sim.inPort, sim.outPort, INVALID_SOCKET, INVALID_SOCKET};
        ASSERT_EQ(rnc.MakeSocket(s, 7), 1);
        ASSERT_EQ(rnc.InitServerCon(), 0);
        rnc.SetConnected();
    }
    EXPECT_EQ(sim.NextFrame("OUT"), "00060002720012340700");
    EXPECT_EQ(sim.NextFrame("OUT"), "00060004720012340700");
}

TEST_F(RncTest, MakeSocketOnConnectedClientReplacesTheLink) {
    Link();
    ASSERT_EQ(Connect(6), 1);
    EXPECT_EQ(rnc.InitServerCon(), 0);
    EXPECT_EQ(sim.NextFrame("OUT"), "00060002720012340600");
    EXPECT_EQ(rnc.ActivateRnc(), 0);
}

// ---------------------------------------------------------------------------------------------
// Device operations

TEST_F(RncTest, RegisterDeviceIsByteExactAndMatchesItsSdu) {
    Link();
    EXPECT_EQ(rnc.RegisterDevice("0012AB34", 1, 2, 3), 0);
    EXPECT_EQ(sim.NextFrame("OUT"), "000E0000060013240012AB34010201030100");
    EXPECT_EQ(rnc.in_frame[6], 0x13);
    EXPECT_EQ(rnc.in_frame[7], 0x24);
    EXPECT_EQ(rnc.in_frame[4], 0x86);
    EXPECT_EQ(rnc.inbound_pending, 0);
}

TEST_F(RncTest, ResponseWithAnotherSduIsNotTaken) {
    Link();
    ASSERT_TRUE(sim.Command("fault wrong-sdu"));
    EXPECT_EQ(rnc.RegisterDevice("0012AB34", 1, 2, 3), 8);
    EXPECT_EQ(rnc.inbound_pending, 1);
    for (int i = 0; i < 19; ++i)
        EXPECT_EQ(rnc.in_frame[i], 0) << i;  // cleared, not filled
}

TEST_F(RncTest, GetLidInformationReadsTheThreeValues) {
    Link();
    ASSERT_TRUE(sim.Command("lid 21 42 63"));
    unsigned char r1 = 9, r2 = 9, r3 = 9;
    EXPECT_EQ(rnc.GetLidInformation("0x0012ab34", r1, r2, r3), 0);
    EXPECT_EQ(sim.NextFrame("OUT"), "000C0000080013540012AB340012AB34");
    EXPECT_EQ(r1, 0x21);
    EXPECT_EQ(r2, 0x42);
    EXPECT_EQ(r3, 0x63);
}

TEST_F(RncTest, DeRegisterDeviceIsByteExact) {
    Link();
    EXPECT_EQ(rnc.DeRegisterDevice("0012AB34"), 0);
    EXPECT_EQ(sim.NextFrame("OUT"), "00090000070012440012AB3401");
}

TEST_F(RncTest, MissingResponsesSetInboundPending) {
    Link();
    ASSERT_TRUE(sim.Command("fault silent"));
    unsigned char r1 = 9, r2 = 9, r3 = 9;
    EXPECT_EQ(rnc.GetLidInformation("0012AB34", r1, r2, r3), 10);
    EXPECT_EQ(r1 | r2 | r3, 0);
    EXPECT_EQ(rnc.inbound_pending, 1);
    rnc.inbound_pending = 0;
    EXPECT_EQ(rnc.DeRegisterDevice("0012AB34"), 12);
    EXPECT_EQ(rnc.inbound_pending, 1);
    // ActivateRnc's silence is reported but not recorded as pending.
    rnc.inbound_pending = 0;
    EXPECT_EQ(rnc.ActivateRnc(), 4);
    EXPECT_EQ(rnc.inbound_pending, 0);
    // Draining with nothing on its way gives up after one wait and leaves a descriptor that
    // matches nothing until the next operation sets its own offset.
    rnc.inbound_pending = 1;
    rnc.FlashInbBuf();
    EXPECT_EQ(rnc.inbound_pending, 0);
    EXPECT_EQ(rnc.recv.len, 522);
    EXPECT_EQ(rnc.recv.sdu_offset, -1);
    EXPECT_EQ(rnc.recv.aux, 2);
}

TEST_F(RncTest, FlashInbBufWithNothingPendingLeavesTheDescriptor) {
    Link();
    Register();
    rnc.FlashInbBuf();
    EXPECT_EQ(rnc.recv.sdu_offset, 6);
    EXPECT_EQ(rnc.recv.len, 19);
}

TEST_F(RncTest, ReRegisterDeviceTakesItsThreePaths) {
    Link(5);
    // Nothing is sent on the first two paths; the next frame the RNC sees is the last one.
    EXPECT_EQ(rnc.Re_RegisterDevice("0012AB34", 0, 7, 3), 7);
    EXPECT_EQ(rnc.Re_RegisterDevice("0012AB34", 5, 5, 3), 5);
    // A response that comes late...
    ASSERT_TRUE(sim.Command("delay 6000"));
    EXPECT_EQ(rnc.RegisterDevice("0012AB34", 1, 2, 3), 8);
    EXPECT_EQ(rnc.inbound_pending, 1);
    ASSERT_TRUE(sim.Command("delay 0"));
    // ...is waited for and dropped, then the device registers again.
    EXPECT_EQ(rnc.Re_RegisterDevice("0012AB34", 9, 2, 3), 0);
    EXPECT_EQ(rnc.inbound_pending, 0);
    EXPECT_EQ(rnc.recv.sdu_offset, 6);
    EXPECT_EQ(sim.NextFrame("OUT"), "000E0000060013240012AB34010201030100");
    EXPECT_EQ(sim.NextFrame("OUT"), "000E0000060013240012AB34090201030100");
}

TEST_F(RncTest, StartFlowWithoutResponseStopsTheReader) {
    ASSERT_EQ(Connect(), 1);
    ASSERT_EQ(rnc.InitServerCon(), 0);
    ASSERT_EQ(rnc.ActivateRnc(), 0);
    rnc.SetEventMsgWnd(&window);
    ASSERT_TRUE(sim.Command("fault silent"));
    EXPECT_EQ(rnc.StartFlow(), 6);
    EXPECT_FALSE(rnc.conn.reader.IsRunning());
    EXPECT_EQ(rnc.conn.reader.ExitCode(), 1);
    ASSERT_TRUE(sim.Command("host AD0000000000000000"));
    EXPECT_EQ(HostQueueCount(), 0u);
    EXPECT_EQ(window.Posts(), 0);
}

// ---------------------------------------------------------------------------------------------
// Transfers

TEST_F(RncTest, UploadIsByteExactAndHandsOverFromTheMarker) {
    Link();
    Register();
    ASSERT_TRUE(sim.Command("marker 13"));
    std::vector<unsigned char> dst(UPLOAD_BUFFER_SIZE, 0x5A);
    EXPECT_EQ(rnc.Upload(dst.data()), 0);
    EXPECT_EQ(sim.NextFrame("OUT"), "00100000290014230012AB346D000000B60001FA");
    EXPECT_EQ(std::memcmp(dst.data(), UPLOAD_MARKER, UPLOAD_MARKER_LEN), 0);
    // 1011 bytes handed over: the simulator fills byte k of the block with k.
    EXPECT_EQ(dst[18], 31);
    EXPECT_EQ(dst[1010], 0xFF);
    EXPECT_EQ(dst[1011], 0x5A);
}

TEST_F(RncTest, UploadWithMarkerAtOffset20IsNotFound) {
    Link();
    Register();
    ASSERT_TRUE(sim.Command("marker 20"));
    std::vector<unsigned char> dst(UPLOAD_BUFFER_SIZE, 0x5A);
    EXPECT_EQ(rnc.Upload(dst.data()), 20);
    EXPECT_EQ(dst, std::vector<unsigned char>(UPLOAD_BUFFER_SIZE, 0x5A));
}

TEST_F(RncTest, RefusalsAreReported) {
    Link();
    Register();
    ASSERT_TRUE(sim.Command("status 29 40"));
    std::vector<unsigned char> dst(UPLOAD_BUFFER_SIZE, 0x5A);
    EXPECT_EQ(rnc.Upload(dst.data()), 19);
    EXPECT_EQ(rnc.SendDebugMessage(), 15);
    unsigned char buf[64] = {};
    EXPECT_EQ(rnc.DownloadBuff(buf, 64), 24);
    unsigned char status = 0;
    unsigned char payload[3] = {1, 2, 3};
    EXPECT_EQ(rnc.SendFVLmessage("0012AB34", payload, 3, &status), 21);
    EXPECT_EQ(status, 0x40);
    EXPECT_EQ(rnc.inbound_pending, 0);
}

TEST_F(RncTest, SendDebugMessageWaitsForTheBlock) {
    Link();
    Register();
    EXPECT_EQ(rnc.SendDebugMessage(), 0);
    // It carries the SDU of the operation before it.
    EXPECT_EQ(sim.NextFrame("OUT"), "00100000290013240012AB346D000000B6140010");
}

TEST_F(RncTest, AcceptedButNoBlockTimesOut) {
    Link();
    Register();
    ASSERT_TRUE(sim.Command("blocks off"));
    ASSERT_TRUE(sim.Command("status 29 3F"));  // still below 40: accepted
    EXPECT_EQ(rnc.SendDebugMessage(), 16);
    std::vector<unsigned char> dst(UPLOAD_BUFFER_SIZE, 0x5A);
    EXPECT_EQ(rnc.Upload(dst.data()), 21);
    EXPECT_EQ(dst[0], 0x5A);
}

TEST_F(RncTest, SendFvlMessage) {
    Link();
    Register();
    unsigned char status = 0x99;
    EXPECT_EQ(rnc.SendFVLmessage("0x00a0FF01", nullptr, 0, &status), 6);
    EXPECT_EQ(status, 0x00);
    EXPECT_EQ(sim.NextFrame("OUT"), "000C00002900148300A0FF0140000000");
    // A null status pointer changes nothing else.
    unsigned char payload[2] = {0xCA, 0xFE};
    EXPECT_EQ(rnc.SendFVLmessage("12345678", payload, 2, nullptr), 6);
    EXPECT_EQ(sim.NextFrame("OUT"), "000E0000290014831234567840000000CAFE");
    // The device ID of the device operations is untouched.
    EXPECT_EQ(Hex(rnc.device_id, 4), "0012AB34");
}

TEST_F(RncTest, SendFvlMessageLimitsAndSilence) {
    Link();
    std::vector<unsigned char> big(4993, 0x11);
    unsigned char status = 0;
    EXPECT_EQ(rnc.SendFVLmessage("0012AB34", big.data(), 4993, &status), 0);
    EXPECT_EQ(status, 0xFE);
    EXPECT_EQ(rnc.inbound_pending, 0);
    ASSERT_TRUE(sim.Command("fault silent"));
    EXPECT_EQ(rnc.SendFVLmessage("0012AB34", big.data(), 4992, &status), 0);
    EXPECT_EQ(status, 0xFF);
    EXPECT_EQ(rnc.inbound_pending, 1);
    // The largest payload went out whole.
    EXPECT_EQ(sim.NextFrame("OUT").size(), 2u * 5008);
}

TEST_F(RncTest, DownloadBuffSendsLenMinus7PduBytes) {
    Link();
    Register();
    std::vector<unsigned char> buf(510);
    for (size_t i = 0; i < buf.size(); ++i)
        buf[i] = static_cast<unsigned char>(i * 7);
    EXPECT_EQ(rnc.DownloadBuff(buf.data(), 510), 0);
    const std::string expected =
        "01F70000"
        "29001324"
        "0012AB34"
        "67000000"
        "02B61401E6" +
        Hex(buf.data() + 20, 486);
    EXPECT_EQ(sim.NextFrame("OUT"), expected);
}

TEST_F(RncTest, DownloadBuffOutsideLimitsSendsNothing) {
    Link();
    Register();
    std::vector<unsigned char> buf(5012, 1);
    EXPECT_EQ(rnc.DownloadBuff(buf.data(), 23), 22);
    EXPECT_EQ(rnc.DownloadBuff(buf.data(), 5012), 22);
    EXPECT_EQ(rnc.DownloadBuff(buf.data(), 5011), 0);
    EXPECT_EQ(sim.NextFrame("OUT").size(), 2u * 5008);  // the first frame seen is the 5011 one
}

// ---------------------------------------------------------------------------------------------
// Host messages

TEST_F(RncTest, HostMessagesReachTheQueueAndTheWindow) {
    Link();
    rnc.SetEventMsgWnd(&window);
    ASSERT_TRUE(sim.Command("host AD00123400000000AA"));
    ASSERT_TRUE(window.WaitPosts(1));
    EXPECT_TRUE(window.LastWasHostMsg());
    unsigned char dst[FRAME_BUFFER_SIZE];
    unsigned long len = 0;
    rnc.GetHostMsg(dst, len);
    ASSERT_EQ(len, 13u);
    EXPECT_EQ(Hex(dst, len), "00090000AD00123400000000AA");
    EXPECT_EQ(host_queue.IsQueueFull(), 0);
}

TEST_F(RncTest, GetHostMsgThenRemoveHostMsg) {
    Link();
    rnc.SetEventMsgWnd(&window);
    ASSERT_TRUE(sim.Command("host AF000000000000000001"));
    ASSERT_TRUE(sim.Command("host 8C000000000000000002"));  // 8C without 'm' is a host message
    ASSERT_TRUE(window.WaitPosts(2));
    unsigned char dst[FRAME_BUFFER_SIZE];
    unsigned long len = 0;
    rnc.GetHostMsg(dst, len);
    EXPECT_EQ(Hex(dst, len), "000A0000AF000000000000000001");
    rnc.RemoveHostMsg();
    EXPECT_EQ(HostQueueCount(), 0u);
    EXPECT_EQ(host_queue.IsQueueFull(), 0);
    // An empty queue leaves the caller's buffer and length alone.
    std::memset(dst, 0x77, 8);
    len = 12345;
    rnc.GetHostMsg(dst, len);
    EXPECT_EQ(len, 12345u);
    EXPECT_EQ(dst[0], 0x77);
    rnc.RemoveHostMsg();
    EXPECT_EQ(HostQueueCount(), 0u);
}

TEST_F(RncTest, WithoutOwnerWindowHostMessagesAreDropped) {
    Link();
    ASSERT_TRUE(sim.Command("host AD000000000000000001"));
    // The answer comes behind the host message on the same stream: once it is in, the reader
    // has dealt with the host message.
    Register();
    rnc.SetEventMsgWnd(&window);
    ASSERT_TRUE(sim.Command("host AD000000000000000002"));
    ASSERT_TRUE(window.WaitPosts(1));
    EXPECT_EQ(HostQueueCount(), 1u);
    unsigned char dst[FRAME_BUFFER_SIZE];
    unsigned long len = 0;
    rnc.GetHostMsg(dst, len);
    EXPECT_EQ(dst[13], 0x02);  // the second one; the first never reached the queue
    EXPECT_EQ(window.Posts(), 1);
}

TEST_F(RncTest, UnsolicitedUploadBlockDoesNotReachTheQueue) {
    Link();
    rnc.SetEventMsgWnd(&window);
    ASSERT_TRUE(sim.Command("host 8C000000000000006D"));
    ASSERT_TRUE(sim.Command("host AD000000000000000001"));
    ASSERT_TRUE(window.WaitPosts(1));
    EXPECT_EQ(HostQueueCount(), 1u);
    EXPECT_EQ(window.Posts(), 1);
}

TEST_F(RncTest, QueueFlagIsPollable) {
    Link();
    rnc.SetEventMsgWnd(&window);
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(host_queue.GetQueueFlag()));
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    ASSERT_TRUE(sim.Command("host AD000000000000000001"));
    p.revents = 0;
    EXPECT_EQ(::poll(&p, 1, 15000), 1);
    unsigned char dst[FRAME_BUFFER_SIZE];
    unsigned long len = 0;
    rnc.GetHostMsg(dst, len);
    EXPECT_EQ(len, 14u);
    EXPECT_EQ(::poll(&p, 1, 0), 0);
}

// ---------------------------------------------------------------------------------------------
// Faults of the server

TEST_F(RncTest, FramesArrivingOneByteAtATime) {
    Link();
    rnc.SetEventMsgWnd(&window);
    ASSERT_TRUE(sim.Command("fault split"));
    EXPECT_EQ(rnc.RegisterDevice("0012AB34", 1, 2, 3), 0);
    ASSERT_TRUE(sim.Command("host AD000000000000000001"));
    ASSERT_TRUE(sim.Command("host AD000000000000000002"));
    ASSERT_TRUE(window.WaitPosts(2));
    EXPECT_EQ(HostQueueCount(), 2u);
    EXPECT_EQ(window.Posts(), 2);
}

TEST_F(RncTest, ZeroLengthAndOversizeFramesKeepTheReaderInStep) {
    Link();
    ASSERT_TRUE(sim.Command("fault zero-length,oversize"));
    EXPECT_EQ(rnc.RegisterDevice("0012AB34", 1, 2, 3), 0);
    ASSERT_TRUE(sim.Command("fault zero-length,split"));
    EXPECT_EQ(rnc.DeRegisterDevice("0012AB34"), 0);
    EXPECT_TRUE(rnc.conn.reader.IsRunning());
}

TEST_F(RncTest, GarbageEndsInMissingResponseNotACrash) {
    Link();
    ASSERT_TRUE(sim.Command("fault garbage"));
    EXPECT_EQ(rnc.RegisterDevice("0012AB34", 1, 2, 3), 8);
    EXPECT_EQ(rnc.inbound_pending, 1);
}

TEST_F(RncTest, AbruptCloseEndsTheReaderAndLaterSendsFail) {
    Link();
    ASSERT_TRUE(sim.Command("close"));
    ASSERT_TRUE(WaitReaderEnded(rnc));
    EXPECT_EQ(rnc.conn.reader.ExitCode(), 0);
    int result = 0;
    for (int i = 0; i < 3 && result != 7; ++i) {
        result = rnc.RegisterDevice("0012AB34", 1, 2, 3);
        EXPECT_TRUE(result == 7 || result == 8) << result;
    }
    EXPECT_EQ(result, 7);  // no SIGPIPE on the way
}

// The simulator's --status and --refuse for the same request: the later one counts.
class RefuseThenStatusTest : public RncTest {
  protected:
    RefuseThenStatusTest() : RncTest({"--refuse", "29", "--status", "29=3F"}) {}
};
class StatusThenRefuseTest : public RncTest {
  protected:
    StatusThenRefuseTest() : RncTest({"--status", "29=3F", "--refuse", "29"}) {}
};

TEST_F(RefuseThenStatusTest, LaterStatusAccepts) {
    Link();
    Register();
    EXPECT_EQ(rnc.SendDebugMessage(), 0);
}

TEST_F(StatusThenRefuseTest, LaterRefusalRefuses) {
    Link();
    Register();
    EXPECT_EQ(rnc.SendDebugMessage(), 15);
}

class SlowPeerTest : public RncTest {
  protected:
    SlowPeerTest() : RncTest({"--fault", "slow-read"}) {}
};

TEST_F(SlowPeerTest, LargeFrameReachesASlowReaderWhole) {
    Link();
    // The smallest send buffer the system allows, so the sends may well come up short.
    int small = 1;
    ::setsockopt(static_cast<int>(rnc.conn.GetOutSocket()), SOL_SOCKET, SO_SNDBUF, &small,
                 sizeof small);
    std::vector<unsigned char> payload(4992);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<unsigned char>(i);
    unsigned char status = 0;
    EXPECT_EQ(rnc.SendFVLmessage("0012AB34", payload.data(), 4992, &status), 6);
    EXPECT_EQ(sim.NextFrame("OUT"),
              "138C0000290014830012AB3440000000" + Hex(payload.data(), payload.size()));
}

}  // namespace
