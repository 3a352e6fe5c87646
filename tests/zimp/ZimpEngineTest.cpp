// ZimpEngine transactions over a pseudo-terminal: the exact frames on the wire, the
// acknowledgement and its faults, echo, aborts, time-outs and reply checking.

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>

#include "ZimpTestSupport.h"

using namespace zimp;

using namespace serial;

using zimptest::Bytes;
using zimptest::LogCapture;
using zimptest::MessageCapture;
using zimptest::ScriptedPeer;
using zimptest::SimRig;
using zimptest::WithChecksum;

namespace {

// Stands in for a user interface whose Cancel button is pressed while a reply is awaited:
// the reply wait pumps, and the pump aborts the port.
class CancellingPump : public platform::MessagePump {
  public:
    explicit CancellingPump(SerialPort& port) : port_(port) {}
    bool PumpUntil(platform::Event& done, uint32_t ms) override {
        ++calls;
        port_.AbortAll();
        pollfd p{done.fd(), POLLIN, 0};
        return poll(&p, 1, ms == platform::kInfinite ? -1 : static_cast<int>(ms)) > 0;
    }
    int calls = 0;

  private:
    SerialPort& port_;
};

TEST(ZimpEngineWire, RequestsGoOutAsCompleteFrames) {
    struct Case {
        std::function<void(ZimpEngine&)> call;
        Bytes frame;
        Bytes reply;  // after the acknowledgement
    };
    const std::vector<Case> cases = {
        {[](ZimpEngine& e) {
             uint16_t v;
             e.GetConfiguration(v);
         },
         {0xF1, 0x13, 0xFB},
         WithChecksum({0xF4, 0x82, 0x20, 0x00, 0x00})},
        {[](ZimpEngine& e) {
             uint8_t s;
             uint32_t a;
             e.GetStatus(s, a);
         },
         {0xF1, 0x14, 0xFA},
         WithChecksum({0xF5, 0x83, 0, 0, 0, 0})},
        {[](ZimpEngine& e) { e.EraseFlash(); }, {0xF1, 0x15, 0xF9}, {}},
        {[](ZimpEngine& e) { e.ZeroFlash(); }, {0xF1, 0x16, 0xF8}, {}},
        {[](ZimpEngine& e) {
             uint8_t d[4];
             e.ReadMemory(0x801000, d, 4);
         },
         {0xF5, 0x11, 0x04, 0x80, 0x10, 0x00, 0x65},
         WithChecksum({0xFF, 0x80, 0x00, 0x08, 0x80, 0x10, 0x00, 1, 2, 3, 4})},
        {[](ZimpEngine& e) { e.WriteData(0xFFFFFF, nullptr, 0); },
         {0xFF, 0x17, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xE8},
         {}},
    };
    for (const Case& c : cases) {
        ScriptedPeer peer;
        ASSERT_TRUE(peer.ok);
        Bytes seen;
        peer.Start([&](ScriptedPeer& p) {
            seen = p.ReadFrame();
            p.Write({0x50});
            if (!c.reply.empty())
                p.Write(c.reply);
        });
        c.call(peer.engine);
        peer.Join();
        EXPECT_EQ(seen, c.frame);
        EXPECT_EQ(peer.engine.LinkError(), zimp::LinkError::None);
        EXPECT_GE(zimp::ToInteger(peer.engine.RequestResult()), 0);
    }
}

TEST(ZimpEngineWire, MalformedRequestsSendNothing) {
    SimRig rig;
    ASSERT_TRUE(rig.ok);
    MessageCapture boxes;
    const Bytes tooLong{0xF1, 0x13, 0xFB, 0x00};
    const Bytes tooShort{0xF5, 0x11, 0x04};
    EXPECT_EQ(rig.engine.Transact(tooLong.data(), tooLong.size()), zimp::RequestResult::BadRequest);
    EXPECT_EQ(rig.engine.LinkError(), zimp::LinkError::None);
    EXPECT_EQ(rig.engine.Transact(tooShort.data(), tooShort.size()),
              zimp::RequestResult::BadRequest);
    EXPECT_TRUE(rig.engine.ReportError());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Request Format is Wrong."});
    // The next good request is the first thing the radio ever saw.
    uint8_t status;
    uint32_t address;
    EXPECT_EQ(rig.engine.GetStatus(status, address), zimp::RequestResult::ReplyOk);
    const auto requests = rig.radio.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].opcode, 0xF114);
}

TEST(ZimpEngineWire, BareOpcodeRequestAndUnsupportedReply) {
    SimRig rig;
    ASSERT_TRUE(rig.ok);
    MessageCapture boxes;
    const Bytes bare{0xF0, 0x20};
    EXPECT_EQ(rig.engine.Transact(bare.data(), bare.size()), zimp::RequestResult::Acknowledged);
    uint8_t buf[4];
    EXPECT_EQ(rig.engine.ReceiveExpected(zimp::kOpConfigurationReply, 0, buf, sizeof buf), 0u);
    EXPECT_EQ(rig.engine.RequestResult(), zimp::RequestResult::UnsupportedOpcode);
    EXPECT_EQ(rig.engine.OpcodeWord(), zimp::kOpUnsupported);
    EXPECT_TRUE(rig.engine.ReportError());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Unsupported Opcode Reply is received."});
}

TEST(ZimpEngineAck, NakIsReportedAndTraced) {
    radio::ZimpRadioOptions o;
    o.nakFirstWrites = 1;
    SimRig rig(o);
    ASSERT_TRUE(rig.ok);
    MessageCapture boxes;
    LogCapture log;
    const uint8_t data[2] = {1, 2};
    EXPECT_EQ(rig.engine.WriteData(0x801000, data, 2), zimp::RequestResult::LinkFailure);
    EXPECT_EQ(rig.engine.LinkError(), zimp::LinkError::Nak);
    EXPECT_TRUE(rig.engine.ReportError());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"NAK is received"});
    EXPECT_EQ(log.Text(), "Returned NACK is 4e\n");
    // The retry is accepted, and nothing of the rejected request was stored or answered.
    EXPECT_EQ(rig.engine.WriteData(0x801000, data, 2), zimp::RequestResult::Acknowledged);
    uint32_t at = 0;
    EXPECT_EQ(rig.engine.AwaitWriteResponse(at), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(at, 0x801000u);
}

TEST(ZimpEngineAck, EchoOptionAgainstAnEchoingRadio) {
    radio::ZimpRadioOptions o;
    o.echo = true;
    SimRig rig(o, 115200, true);
    ASSERT_TRUE(rig.ok);
    const Bytes data(300, 0x5A);
    EXPECT_EQ(rig.engine.WriteData(0x400100, data.data(), data.size()),
              zimp::RequestResult::Acknowledged);
    uint32_t at = 0;
    EXPECT_EQ(rig.engine.AwaitWriteResponse(at), zimp::RequestResult::ReplyOk);
    uint8_t back[255];
    EXPECT_EQ(rig.engine.ReadMemory(0x400100, back, 255), 255u);
    EXPECT_EQ(Bytes(back, back + 255), Bytes(255, 0x5A));
}

TEST(ZimpEngineAck, EchoOptionAgainstARadioThatDoesNotEcho) {
    SimRig rig({}, 115200, true);
    ASSERT_TRUE(rig.ok);
    MessageCapture boxes;
    const uint8_t data[4] = {1, 2, 3, 4};
    // Acknowledgement and write response together are fewer bytes than the 12-byte frame.
    EXPECT_EQ(rig.engine.WriteData(0x801000, data, 4), zimp::RequestResult::LinkFailure);
    EXPECT_EQ(rig.engine.LinkError(), zimp::LinkError::AckTimeout);
    EXPECT_TRUE(rig.engine.ReportError());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"ACK Timeout Error."});
}

TEST(ZimpEngineAck, SilentRadioIsAnAckTimeout) {
    radio::ZimpRadioOptions o;
    o.silentAfter = 1;
    SimRig rig(o);
    ASSERT_TRUE(rig.ok);
    EXPECT_EQ(rig.engine.ZeroFlash(), zimp::RequestResult::Acknowledged);
    uint32_t at;
    EXPECT_EQ(rig.engine.AwaitWriteResponse(at), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(rig.engine.EraseFlash(), zimp::RequestResult::LinkFailure);
    EXPECT_EQ(rig.engine.LinkError(), zimp::LinkError::AckTimeout);
}

// The far side closing the line is the device going away, reported by the port's name.
TEST(ZimpEngineAck, LostLineIsAPortThatWentAway) {
    ScriptedPeer peer;
    ASSERT_TRUE(peer.ok);
    MessageCapture boxes;
    peer.Start([](ScriptedPeer& p) {
        p.ReadFrame();
        p.pty.CloseMaster();
    });
    EXPECT_EQ(peer.engine.EraseFlash(), zimp::RequestResult::LinkFailure);
    peer.Join();
    EXPECT_EQ(peer.engine.LinkError(), zimp::LinkError::PortGone);
    EXPECT_TRUE(peer.engine.ReportError());
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"The port " + peer.pty.SlavePath() + " went away."});
}

TEST(ZimpEngineAbort, DuringTheAcknowledgementWait) {
    ScriptedPeer peer;
    ASSERT_TRUE(peer.ok);
    MessageCapture boxes;
    peer.Start([](ScriptedPeer& p) {
        p.ReadFrame();
        // Never answers; keeps pressing Cancel until the engine gives up.
        while (!p.engineDone.load()) {
            p.port.AbortAll();
            platform::SleepMs(5);
        }
    });
    const zimp::RequestResult result = peer.engine.EraseFlash();
    peer.engineDone = true;
    peer.Join();
    EXPECT_EQ(result, zimp::RequestResult::LinkFailure);
    EXPECT_EQ(peer.engine.LinkError(), zimp::LinkError::Aborted);
    EXPECT_FALSE(peer.engine.ReportError());
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST(ZimpEngineAbort, DuringTheReplyWait) {
    ScriptedPeer peer;
    ASSERT_TRUE(peer.ok);
    MessageCapture boxes;
    CancellingPump pump(peer.port);
    peer.port.SetPump(&pump);
    peer.Start([](ScriptedPeer& p) {
        p.ReadFrame();
        p.Write({0x50});  // acknowledged, never answered
    });
    uint16_t length = 0;
    EXPECT_EQ(peer.engine.GetConfiguration(length), zimp::RequestResult::LinkFailure);
    peer.Join();
    peer.port.SetPump(nullptr);
    EXPECT_GE(pump.calls, 1);
    EXPECT_EQ(peer.engine.LinkError(), zimp::LinkError::Aborted);
    EXPECT_FALSE(peer.engine.ReportError());
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST(ZimpEngineAbort, WriteResponseWaitEndsOnlyByAbort) {
    // An abort ends the wait at once, long before its default bound: 600 s after an erase or
    // a zeroing, 60 s after a write.
    struct Case {
        std::function<zimp::RequestResult(ZimpEngine&)> request;
        uint32_t bound;
    };
    const uint8_t one = 1;
    for (const Case& c :
         {Case{[](ZimpEngine& e) { return e.EraseFlash(); }, 600000},
          Case{[](ZimpEngine& e) { return e.ZeroFlash(); }, 600000},
          Case{[&](ZimpEngine& e) { return e.WriteData(0x801000, &one, 1); }, 60000}}) {
        ScriptedPeer peer;
        ASSERT_TRUE(peer.ok);
        CancellingPump pump(peer.port);
        peer.Start([](ScriptedPeer& p) {
            p.ReadFrame();
            p.Write({0x50});
        });
        EXPECT_EQ(c.request(peer.engine), zimp::RequestResult::Acknowledged);
        peer.Join();
        peer.port.SetPump(&pump);
        uint32_t at = 0x123;
        EXPECT_EQ(peer.engine.AwaitWriteResponse(at), zimp::RequestResult::LinkFailure);
        peer.port.SetPump(nullptr);
        EXPECT_EQ(peer.engine.LinkError(), zimp::LinkError::Aborted);
        EXPECT_EQ(at, 0x123u);
        EXPECT_EQ(peer.port.ReadTimeoutConstant(), c.bound);
    }
}

TEST(ZimpEngineReply, MissingWriteResponseIsAReplyTimeout) {
    radio::ZimpRadioOptions o;
    o.noWriteResponse = true;
    SimRig rig(o);
    ASSERT_TRUE(rig.ok);
    MessageCapture boxes;
    rig.engine.SetWriteResponseTimeouts(50, 80);
    // Should the bound not hold, the wait ends here as an abort, not in a hung test.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        while (!zimptest::WaitUntil([&] { return done.load(); }, 10000))
            rig.port.AbortAll();
    });
    const uint8_t data[3] = {1, 2, 3};
    struct Case {
        std::function<zimp::RequestResult(ZimpEngine&)> request;
        uint32_t bound;
    };
    for (const Case& c : {Case{[&](ZimpEngine& e) { return e.WriteData(0x801000, data, 3); }, 50},
                          Case{[](ZimpEngine& e) { return e.EraseFlash(); }, 80},
                          Case{[&](ZimpEngine& e) { return e.WriteData(0xFFFFFF, data, 0); }, 50},
                          Case{[](ZimpEngine& e) { return e.ZeroFlash(); }, 80}}) {
        boxes.Clear();
        ASSERT_EQ(c.request(rig.engine), zimp::RequestResult::Acknowledged);
        uint32_t at = 0x123;
        EXPECT_EQ(rig.engine.AwaitWriteResponse(at), zimp::RequestResult::ReplyTimedOut);
        EXPECT_EQ(rig.port.ReadTimeoutConstant(), c.bound);
        EXPECT_EQ(at, 0x123u);
        EXPECT_TRUE(rig.engine.ReportError());
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Reply Timeout."});
    }
    done = true;
    watchdog.join();
}

TEST(ZimpEngineReply, ChecksumError) {
    MessageCapture boxes;
    ScriptedPeer peer;
    ASSERT_TRUE(peer.ok);
    peer.Start([](ScriptedPeer& p) {
        p.ReadFrame();
        p.Write({0x50});
        Bytes reply = WithChecksum({0xF3, 0x81, 0x12, 0x34});
        reply.back() ^= 0x01;
        p.Write(reply);
    });
    uint16_t sum = 0x7777;
    EXPECT_EQ(peer.engine.GetChecksum(0x800000, 16, sum), zimp::RequestResult::LinkFailure);
    peer.Join();
    EXPECT_EQ(sum, 0x7777);  // out-values only on success
    EXPECT_EQ(peer.engine.LinkError(), zimp::LinkError::Checksum);
    EXPECT_TRUE(peer.engine.ReportError());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Check Sum Error."});
}

// The opcode word carries the length code, so a "Check Sum" reply framed with one payload
// byte is F2 81: another opcode, UnwelcomeReply. A short payload under the expected opcode is
// possible only with an extended length, as in a "Read" reply too short for its address.
TEST(ZimpEngineReply, ShortPayloads) {
    MessageCapture boxes;
    {
        ScriptedPeer peer;
        ASSERT_TRUE(peer.ok);
        peer.Start([](ScriptedPeer& p) {
            p.ReadFrame();
            p.Write({0x50});
            p.Write(WithChecksum({0xF2, 0x81, 0x12}));
        });
        uint16_t sum = 0x7777;
        EXPECT_EQ(peer.engine.GetChecksum(0x800000, 16, sum), zimp::RequestResult::UnwelcomeReply);
        peer.Join();
        EXPECT_EQ(sum, 0x7777);
    }
    {
        ScriptedPeer peer;
        ASSERT_TRUE(peer.ok);
        peer.Start([](ScriptedPeer& p) {
            p.ReadFrame();
            p.Write({0x50});
            p.Write(WithChecksum({0xFF, 0x80, 0x00, 0x03, 0x80, 0x10}));
        });
        uint8_t data[4] = {};
        boxes.Clear();
        EXPECT_EQ(peer.engine.ReadMemory(0x801000, data, 4), 0u);
        peer.Join();
        EXPECT_EQ(peer.engine.RequestResult(), zimp::RequestResult::BadReplyFormat);
        EXPECT_TRUE(peer.engine.ReportError());
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Reply Format is wrong."});
    }
}

TEST(ZimpEngineReply, OpcodeOnlyReplyIsJudgedByItsOpcode) {
    ScriptedPeer peer;
    ASSERT_TRUE(peer.ok);
    peer.Start([](ScriptedPeer& p) { p.Write({0x40}); });
    uint8_t buf[4];
    EXPECT_EQ(peer.engine.ReceiveExpected(0x4000, 0, buf, sizeof buf), 0u);
    peer.Join();
    EXPECT_EQ(peer.engine.LinkError(), zimp::LinkError::None);
    EXPECT_EQ(peer.engine.RequestResult(), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(peer.engine.OpcodeWord(), 0x4000);
}

TEST(ZimpEngineReply, BytesTricklingInAt115200AreWaitedFor) {
    // A USB adapter hands bytes over when its latency timer runs out: a few ms apart.
    ScriptedPeer peer(115200);
    ASSERT_TRUE(peer.ok);
    peer.Start([](ScriptedPeer& p) {
        p.ReadFrame();
        p.Write({0x50});
        // F2: 2 x 50,000 / 115,200 rounds to a per-byte time-out of 0.
        for (uint8_t b : WithChecksum({0xF2, 0x99, 0x42})) {
            p.Write({b});
            platform::SleepMs(3);
        }
    });
    const Bytes request{0xF1, 0x20};
    ASSERT_EQ(peer.engine.Transact(request.data(), request.size()),
              zimp::RequestResult::Acknowledged);
    uint8_t d = 0;
    EXPECT_EQ(peer.engine.ReceiveExpected(0xF299, 0, &d, 1), 1u);
    peer.Join();
    EXPECT_EQ(peer.engine.RequestResult(), zimp::RequestResult::ReplyOk)
        << zimp::ToInteger(peer.engine.LinkError());
    EXPECT_EQ(d, 0x42);
}

TEST(ZimpEngineReply, UnbufferedBytesAfterAnF1HeaderAt115200AreAMessageTimeout) {
    ScriptedPeer peer(115200);
    ASSERT_TRUE(peer.ok);
    MessageCapture boxes;
    peer.Start([](ScriptedPeer& p) {
        p.ReadFrame();
        p.Write({0x50, 0xF1});
        // The rest would come only after the engine has given up.
        zimptest::WaitUntil([&] { return p.engineDone.load(); });
        p.Write({0x86, 0x88});
    });
    uint16_t length = 0;
    EXPECT_EQ(peer.engine.GetConfiguration(length), zimp::RequestResult::LinkFailure);
    peer.engineDone = true;
    peer.Join();
    EXPECT_EQ(peer.engine.LinkError(), zimp::LinkError::ReplyTimeout);
    EXPECT_TRUE(peer.engine.ReportError());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Message Timeout Errror."});
}

TEST(ZimpEngineReply, ReplyTimeoutArgumentBoundsTheFirstByte) {
    ScriptedPeer peer;
    ASSERT_TRUE(peer.ok);
    MessageCapture boxes;
    peer.Start([](ScriptedPeer& p) {
        p.ReadFrame();
        p.Write({0x50});
    });
    uint8_t status = 9;
    uint32_t address = 9;
    EXPECT_EQ(peer.engine.GetStatus(status, address, 50), zimp::RequestResult::ReplyTimedOut);
    peer.Join();
    EXPECT_EQ(peer.engine.LinkError(), zimp::LinkError::ReplyTimeout);
    EXPECT_TRUE(peer.engine.ReportError());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Reply Timeout."});
    EXPECT_EQ(status, 9);
}

TEST(ZimpEngineReply, ReplyLongerThanTheBufferKeepsItsFirst65535Bytes) {
    ScriptedPeer peer(9600);
    ASSERT_TRUE(peer.ok);
    const size_t sent = 66000;
    peer.Start([&](ScriptedPeer& p) {
        p.ReadFrame();
        p.Write({0x50});
        // An extended length of 0: payload until the line falls silent.
        Bytes reply{0xFF, 0x80, 0x00, 0x00};
        for (size_t i = 0; i < sent; ++i)
            reply.push_back(static_cast<uint8_t>(i % 251));
        p.Write(reply);
    });
    uint8_t data[16];
    EXPECT_EQ(peer.engine.ReadMemory(0x800000, data, 16), 0u);
    peer.Join();
    EXPECT_EQ(peer.engine.LinkError(), zimp::LinkError::ReplyTimeout);
    const zimp::ReceiveBuffer& buf = peer.engine.ReplyBuffer();
    ASSERT_EQ(buf.Size(), zimp::ReceiveBuffer::kLimit);
    EXPECT_EQ(buf.Dropped(), sent - zimp::ReceiveBuffer::kLimit);
    EXPECT_EQ(buf.Data()[0], 0);
    EXPECT_EQ(buf.Data()[65534], 65534 % 251);
    // The next request empties it again.
    uint8_t status;
    uint32_t address;
    peer.Start([](ScriptedPeer& p) {
        p.ReadFrame();
        p.Write({0x50});
        p.Write(WithChecksum({0xF5, 0x83, 0x01, 0x80, 0x00, 0x10}));
    });
    EXPECT_EQ(peer.engine.GetStatus(status, address), zimp::RequestResult::ReplyOk);
    peer.Join();
    EXPECT_EQ(address, 0x800010u);
    EXPECT_EQ(peer.engine.PayloadSize(), 0u);
}

TEST(ZimpEnginePort, ClosedPortIsLinkErrorSevenForSendAndReceive) {
    SimRig rig;
    ASSERT_TRUE(rig.ok);
    MessageCapture boxes;
    rig.port.Close();
    EXPECT_EQ(rig.engine.EraseFlash(), zimp::RequestResult::LinkFailure);
    EXPECT_EQ(rig.engine.LinkError(), zimp::LinkError::NoPort);
    EXPECT_TRUE(rig.engine.ReportError());
    uint32_t at;
    EXPECT_EQ(rig.engine.AwaitWriteResponse(at), zimp::RequestResult::LinkFailure);
    EXPECT_EQ(rig.engine.LinkError(), zimp::LinkError::NoPort);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Port is not open or its handler is bad."});
}

TEST(ZimpEnginePort, TooLongRequestsAreRefused) {
    SimRig rig;
    ASSERT_TRUE(rig.ok);
    MessageCapture boxes;
    Bytes big(8224, 0);
    big[0] = 0xFF;
    big[1] = 0x17;
    EXPECT_FALSE(rig.engine.SendRequest(big.data(), big.size()));
    EXPECT_EQ(rig.engine.LinkError(), zimp::LinkError::NoPort);
    const Bytes data(8217, 1);
    EXPECT_EQ(rig.engine.WriteData(0x800000, data.data(), data.size()),
              zimp::RequestResult::LinkFailure);
    EXPECT_TRUE(rig.engine.ReportError());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Port is not open or its handler is bad."});
    EXPECT_TRUE(rig.radio.Requests().empty());
    // 8,216 data bytes still go, as an 8,224-byte frame.
    EXPECT_EQ(rig.engine.WriteData(0x800000, data.data(), 8216), zimp::RequestResult::Acknowledged);
    uint32_t at;
    EXPECT_EQ(rig.engine.AwaitWriteResponse(at), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(rig.radio.Requests().at(0).length, 8216u);
    EXPECT_EQ(rig.radio.ReadMemory(0x800000 + 8215, 2), (Bytes{1, 0xFF}));
}

TEST(ZimpEngineTimeouts, ConstantsAt9600Baud) {
    SimRig rig({}, 9600);
    ASSERT_TRUE(rig.ok);
    platform::SerialTimeouts t;
    const uint8_t data[2] = {1, 2};
    // A 10-byte request: 10 x 20,000 / 9,600.
    ASSERT_EQ(rig.engine.WriteData(0x800000, data, 2), zimp::RequestResult::Acknowledged);
    ASSERT_TRUE(rig.port.CurrentTimeouts(t));
    EXPECT_EQ(t.writeConstant, 20u);
    EXPECT_EQ(t.readConstant, 3000u + 11);  // counted from when the frame has left: 10.4 ms
    EXPECT_EQ(t.readMultiplier, 0u);
    uint32_t at;
    ASSERT_EQ(rig.engine.AwaitWriteResponse(at), zimp::RequestResult::ReplyOk);
    ASSERT_TRUE(rig.port.CurrentTimeouts(t));
    EXPECT_EQ(t.readConstant, 200u);  // F4: 10 x (4 x 50,000 / 9,600)
    uint16_t sum;
    ASSERT_EQ(rig.engine.GetChecksum(0x800000, 2, sum), zimp::RequestResult::ReplyOk);
    ASSERT_TRUE(rig.port.CurrentTimeouts(t));
    EXPECT_EQ(t.readConstant, 150u);  // F3
    EXPECT_EQ(sum, 3);
    uint8_t d[2];
    ASSERT_EQ(rig.engine.ReadMemory(0x800000, d, 2), 2u);
    ASSERT_TRUE(rig.port.CurrentTimeouts(t));
    EXPECT_EQ(t.readConstant, 780u);  // FF
}

TEST(ZimpEngineTimeouts, AcknowledgementOfALongBlockAtALowRate) {
    // 3,080 bytes need 3.2 s on a 9,600-baud line before the radio can acknowledge them.
    SimRig rig({}, 9600, false, 9600);
    ASSERT_TRUE(rig.ok);
    std::vector<uint8_t> block(3072);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 13);
    ASSERT_EQ(rig.engine.WriteData(0x801000, block.data(), 3072), zimp::RequestResult::Acknowledged)
        << zimp::ToInteger(rig.engine.LinkError());
    uint32_t at = 0;
    ASSERT_EQ(rig.engine.AwaitWriteResponse(at), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(rig.radio.ReadMemory(0x801000, 3072), block);
}

TEST(ZimpEngineTimeouts, ConstantsAt115200Baud) {
    SimRig rig({}, 115200);
    ASSERT_TRUE(rig.ok);
    platform::SerialTimeouts t;
    uint16_t sum;
    ASSERT_EQ(rig.engine.GetChecksum(0x800000, 2, sum), zimp::RequestResult::ReplyOk);
    ASSERT_TRUE(rig.port.CurrentTimeouts(t));
    EXPECT_EQ(t.writeConstant, 8u * 20000 / 115200);
    EXPECT_EQ(t.readConstant, 20u);  // F3: 10 x 1, raised to the least per-byte wait
    uint8_t d[2];
    ASSERT_EQ(rig.engine.ReadMemory(0x800000, d, 2), 2u);
    ASSERT_TRUE(rig.port.CurrentTimeouts(t));
    EXPECT_EQ(t.readConstant, 60u);  // FF: 10 x 6
    // An F1-headed reply: 10 x 0, raised to the least per-byte wait.
    const Bytes unknown{0xF1, 0x20};
    ASSERT_EQ(rig.engine.Transact(unknown.data(), unknown.size()),
              zimp::RequestResult::Acknowledged);
    rig.engine.ReceiveExpected(zimp::kOpUnsupported, 0, d, 0);
    EXPECT_EQ(rig.engine.RequestResult(), zimp::RequestResult::ReplyOk);
    ASSERT_TRUE(rig.port.CurrentTimeouts(t));
    EXPECT_EQ(t.readConstant, 20u);
    EXPECT_EQ(t.readInterval, 0u);
}

}  // namespace
