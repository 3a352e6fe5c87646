// The request operations round-tripped against the simulated radio, with its fault options.

#include <gtest/gtest.h>

#include "ZimpTestSupport.h"

using namespace zimp;

using zimptest::Bytes;
using zimptest::MessageCapture;
using zimptest::ScriptedPeer;
using zimptest::SimRig;
using zimptest::WithChecksum;

namespace {

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 13);
    return b;
}

// Write, then the write response; returns the second step's result.
zimp::RequestResult Write(ZimpEngine& e, uint32_t address, const Bytes& data,
                          uint32_t* at = nullptr) {
    const zimp::RequestResult r =
        e.WriteData(address, data.data(), static_cast<uint32_t>(data.size()));
    if (r != zimp::RequestResult::Acknowledged)
        return r;
    uint32_t a = 0;
    const zimp::RequestResult w = e.AwaitWriteResponse(a);
    if (at)
        *at = a;
    return w;
}

TEST(ZimpRequests, EveryRequestRoundTrips) {
    SimRig rig;
    ASSERT_TRUE(rig.ok);
    ZimpEngine& e = rig.engine;
    const Bytes ram = Pattern(1000, 1), flash = Pattern(300, 7);
    uint32_t at = 0;
    EXPECT_EQ(Write(e, 0x801000, ram, &at), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(at, 0x801000u);
    EXPECT_EQ(Write(e, 0x400200, flash), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(Write(e, 0x000010, {0xEE}), zimp::RequestResult::ReplyOk);

    uint8_t back[255];
    EXPECT_EQ(e.ReadMemory(0x801000 + 500, back, 255, 2000), 255u);
    EXPECT_EQ(Bytes(back, back + 255), Bytes(ram.begin() + 500, ram.begin() + 755));
    EXPECT_EQ(e.ReadMemory(0x000010, back, 2, 1000), 2u);
    EXPECT_EQ(back[0], 0xEE);
    EXPECT_EQ(back[1], 0xFF);  // never written

    uint16_t sum = 0;
    EXPECT_EQ(e.GetChecksum(0x801000, 1000, sum, 1000), zimp::RequestResult::ReplyOk);
    uint16_t expected = 0;
    for (uint8_t b : ram)
        expected = static_cast<uint16_t>(expected + b);
    EXPECT_EQ(sum, expected);

    uint16_t length = 0;
    EXPECT_EQ(e.GetConfiguration(length, 1000), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(length, 0x2000);

    uint8_t status = 0xAA;
    uint32_t address = 0;
    EXPECT_EQ(e.GetStatus(status, address, 1000), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(address, 0x000010u);

    EXPECT_EQ(e.ZeroFlash(), zimp::RequestResult::Acknowledged);
    EXPECT_EQ(e.AwaitWriteResponse(at), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(e.ReadMemory(0x400200, back, 4), 4u);
    EXPECT_EQ(Bytes(back, back + 4), Bytes(4, 0));
    EXPECT_EQ(e.EraseFlash(), zimp::RequestResult::Acknowledged);
    EXPECT_EQ(e.AwaitWriteResponse(at), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(at, 0x400000u);
    EXPECT_EQ(e.ReadMemory(0x400200, back, 4), 4u);
    EXPECT_EQ(Bytes(back, back + 4), Bytes(4, 0xFF));

    // End of the load.
    EXPECT_EQ(Write(e, 0xFFFFFF, {}, &at), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(at, 0xFFFFFFu);
    EXPECT_EQ(rig.radio.Markers().size(), 1u);
    EXPECT_EQ(e.GetStatus(status, address), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(rig.radio.ReadMemory(0x801000, 1000), ram);
}

TEST(ZimpRequests, ReadOfCountZeroSendsNothing) {
    SimRig rig;
    ASSERT_TRUE(rig.ok);
    rig.engine.SetOutcome(zimp::LinkError::Nak, zimp::RequestResult::LinkFailure);
    uint8_t d[1];
    EXPECT_EQ(rig.engine.ReadMemory(0x800000, d, 0), 0u);
    // The codes are not touched, and the radio heard nothing.
    EXPECT_EQ(rig.engine.LinkError(), zimp::LinkError::Nak);
    EXPECT_EQ(rig.engine.RequestResult(), zimp::RequestResult::LinkFailure);
    // A count that does not fit its byte is refused rather than cut.
    uint8_t big[256];
    EXPECT_EQ(rig.engine.ReadMemory(0x800000, big, 256), 0u);
    EXPECT_EQ(rig.engine.RequestResult(), zimp::RequestResult::BadRequest);
    uint16_t sum;
    EXPECT_EQ(rig.engine.GetChecksum(0x800000, 0x10000, sum), zimp::RequestResult::BadRequest);
    EXPECT_TRUE(rig.radio.Requests().empty());
}

TEST(ZimpRequests, ReadReplyAddressIsMatchedOnItsLow20Bits) {
    MessageCapture boxes;
    for (uint8_t low : {uint8_t{0x00}, uint8_t{0x01}}) {
        ScriptedPeer peer;
        ASSERT_TRUE(peer.ok);
        peer.Start([low](ScriptedPeer& p) {
            p.ReadFrame();
            p.Write({0x50});
            // 0x90 differs from the request's 0x80 in bit 20 only.
            p.Write(WithChecksum({0xFF, 0x80, 0x00, 0x06, 0x90, 0x10, low, 0xAA, 0xBB}));
        });
        uint8_t data[2] = {0x11, 0x22};
        const uint32_t n = peer.engine.ReadMemory(0x801000, data, 2);
        peer.Join();
        if (low == 0) {
            EXPECT_EQ(n, 2u);
            EXPECT_EQ(peer.engine.RequestResult(), zimp::RequestResult::ReplyOk);
            EXPECT_EQ(data[0], 0xAA);
            EXPECT_EQ(data[1], 0xBB);
        } else {
            EXPECT_EQ(n, 0u);
            EXPECT_EQ(peer.engine.RequestResult(), zimp::RequestResult::UnwelcomeReply);
            EXPECT_EQ(data[0], 0x11);  // nothing delivered
            boxes.Clear();
            EXPECT_TRUE(peer.engine.ReportError());
            ASSERT_EQ(boxes.Texts().size(), 1u);
            EXPECT_EQ(boxes.Texts()[0].rfind("Unwelcome Reply is received", 0), 0u);
        }
    }
}

TEST(ZimpRequests, BadWriteGivesMinusSixAndItsAddress) {
    radio::ZimpRadioOptions o;
    o.badWriteAt = 0x400105;
    SimRig rig(o);
    ASSERT_TRUE(rig.ok);
    MessageCapture boxes;
    uint32_t at = 0;
    EXPECT_EQ(Write(rig.engine, 0x400100, Pattern(16, 3), &at), zimp::RequestResult::BadWrite);
    EXPECT_EQ(at, 0x400105u);
    EXPECT_EQ(rig.engine.OpcodeWord(), zimp::kOpBadWrite);
    EXPECT_FALSE(rig.engine.ReportError());
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(Write(rig.engine, 0x400110, Pattern(16, 3)), zimp::RequestResult::ReplyOk);
}

TEST(ZimpRequests, NakEveryKthRequestThenRetry) {
    radio::ZimpRadioOptions o;
    o.nakEvery = 2;
    SimRig rig(o);
    ASSERT_TRUE(rig.ok);
    ZimpEngine& e = rig.engine;
    uint16_t length;
    EXPECT_EQ(e.GetConfiguration(length), zimp::RequestResult::ReplyOk);      // request 1
    EXPECT_EQ(e.GetConfiguration(length), zimp::RequestResult::LinkFailure);  // request 2: NAK
    EXPECT_EQ(e.LinkError(), zimp::LinkError::Nak);
    EXPECT_EQ(e.GetConfiguration(length), zimp::RequestResult::ReplyOk);  // the retry
}

TEST(ZimpRequests, WrongOpcodeIsAnUnwelcomeReply) {
    radio::ZimpRadioOptions o;
    o.wrongOpcodeAt = 2;
    SimRig rig(o);
    ASSERT_TRUE(rig.ok);
    uint8_t status;
    uint32_t address;
    EXPECT_EQ(rig.engine.GetStatus(status, address), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(Write(rig.engine, 0x800000, {1}), zimp::RequestResult::UnwelcomeReply);
    EXPECT_EQ(rig.engine.OpcodeWord(), 0xF487);
    EXPECT_EQ(rig.engine.GetStatus(status, address), zimp::RequestResult::ReplyOk);
}

TEST(ZimpRequests, ShortReadDeliversWhatCame) {
    radio::ZimpRadioOptions o;
    o.shortRead = true;
    SimRig rig(o);
    ASSERT_TRUE(rig.ok);
    uint8_t d[10];
    EXPECT_EQ(rig.engine.ReadMemory(0x800000, d, 10), 9u);
    EXPECT_EQ(rig.engine.RequestResult(), zimp::RequestResult::ReplyOk);
}

TEST(ZimpRequests, SlowLineAt9600Baud) {
    // The radio delays every answer by its time on a 9,600-baud line; the engine's
    // time-outs at that rate must hold for a full read.
    SimRig rig({}, 9600, false, 9600);
    ASSERT_TRUE(rig.ok);
    const Bytes data = Pattern(255, 9);
    EXPECT_EQ(Write(rig.engine, 0x800400, data), zimp::RequestResult::ReplyOk);
    uint8_t back[255];
    EXPECT_EQ(rig.engine.ReadMemory(0x800400, back, 255), 255u);
    EXPECT_EQ(Bytes(back, back + 255), data);
}

TEST(ZimpRequests, RadioResynchronisesAfterGarbageAndSilence) {
    radio::ZimpRadioOptions o;
    o.idleMs = 50;
    SimRig rig(o);
    ASSERT_TRUE(rig.ok);
    // Announces a 65,535-byte frame that never comes.
    const Bytes garbage{0xFF, 0x99, 0xFF, 0xFF, 0x01, 0x02};
    int32_t lineError = 0;
    ASSERT_EQ(rig.port.Write(garbage.data(), garbage.size(), lineError), garbage.size());
    ASSERT_TRUE(zimptest::WaitUntil([&] { return rig.radio.Stats().droppedPartials == 1; }));
    uint16_t length = 0;
    EXPECT_EQ(rig.engine.GetConfiguration(length), zimp::RequestResult::ReplyOk);
    EXPECT_EQ(length, 0x2000);
}

TEST(ZimpRequests, PreloadedMemoryReadsBack) {
    SimRig rig;
    ASSERT_TRUE(rig.ok);
    std::string error;
    ASSERT_TRUE(rig.radio.LoadJson(
        R"({"memories": [{"code": 4, "fill": 0, "blocks": [{"address": 4194320, "data": "c0ffee"}]}]})",
        error))
        << error;
    uint8_t d[5];
    EXPECT_EQ(rig.engine.ReadMemory(0x40000F, d, 5), 5u);
    EXPECT_EQ(Bytes(d, d + 5), (Bytes{0, 0xC0, 0xFF, 0xEE, 0}));
}

}  // namespace
