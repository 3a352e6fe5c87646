// Framing, reply parsing, the receive buffer and the message table, without a line.

#include <gtest/gtest.h>

#include <vector>

#include "ZimpTestSupport.h"
#include "zimp/ReceiveBuffer.h"
#include "zimp/ZimpEngine.h"
#include "zimp/ZimpFrame.h"

using namespace zimp;

using zimptest::Bytes;

namespace {

Bytes Frame(const Bytes& request) {
    Bytes out(zimp::kMaxFrameLength + 8);
    const uint32_t d = zimp::FrameRequest(request.data(), request.size(), out.data(), out.size());
    out.resize(d);
    return out;
}

unsigned Sum(const Bytes& b) {
    unsigned s = 0;
    for (uint8_t x : b)
        s += x;
    return s & 0xFF;
}

TEST(ZimpFrame, CompleteRequestFrames) {
    EXPECT_EQ(Frame({0xF1, 0x13}), (Bytes{0xF1, 0x13, 0xFB}));
    EXPECT_EQ(Frame({0xF1, 0x14}), (Bytes{0xF1, 0x14, 0xFA}));
    EXPECT_EQ(Frame({0xF1, 0x15}), (Bytes{0xF1, 0x15, 0xF9}));
    EXPECT_EQ(Frame({0xF1, 0x16}), (Bytes{0xF1, 0x16, 0xF8}));
    EXPECT_EQ(Frame({0xF5, 0x11, 0x04, 0x80, 0x10, 0x00}),
              (Bytes{0xF5, 0x11, 0x04, 0x80, 0x10, 0x00, 0x65}));
    EXPECT_EQ(Frame({0xFF, 0x17, 0x00, 0x04, 0xFF, 0xFF, 0xFF}),
              (Bytes{0xFF, 0x17, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xE8}));
    const Bytes checkSum = Frame({0xF6, 0x12, 0x01, 0x00, 0x40, 0x00, 0x00});
    ASSERT_EQ(checkSum.size(), 8u);
    EXPECT_EQ(Sum(checkSum), 0xFFu);
}

TEST(ZimpFrame, FrameLengthFromHeader) {
    const Bytes oneByte{0x13, 1, 2};
    EXPECT_EQ(zimp::FrameLength(oneByte.data(), oneByte.size()), 4u);
    const Bytes extendedOne{0x1F, 0x00, 0x05};
    EXPECT_EQ(zimp::FrameLength(extendedOne.data(), extendedOne.size()), 8u);
    const Bytes extendedTwo{0xFF, 0x17, 0x01, 0x00};
    EXPECT_EQ(zimp::FrameLength(extendedTwo.data(), extendedTwo.size()), 2u + 2 + 256);
    // The length field is not there yet.
    const Bytes cut{0xFF, 0x17, 0x01};
    EXPECT_EQ(zimp::FrameLength(cut.data(), cut.size()), 0u);
    EXPECT_EQ(zimp::FrameLength(nullptr, 0), 0u);
}

TEST(ZimpFrame, WriteDataFrameIsNPlusEightWithLengthNPlusFour) {
    for (uint32_t n : {0u, 1u, 100u, 8216u}) {
        Bytes request{
            0xFF, 0x17, static_cast<uint8_t>((n + 4) >> 8), static_cast<uint8_t>(n + 4), 0x40,
            0x00, 0x10};
        for (uint32_t i = 0; i < n; ++i)
            request.push_back(static_cast<uint8_t>(i * 7));
        const Bytes f = Frame(request);
        ASSERT_EQ(f.size(), n + 8) << n;
        EXPECT_EQ((uint32_t(f[2]) << 8) | f[3], n + 4);
        EXPECT_EQ(Sum(f), 0xFFu);
    }
}

TEST(ZimpFrame, BareOpcodeAndMalformedRequests) {
    // Length code 0 passed with exactly its opcode: sent as it is, no checksum.
    EXPECT_EQ(Frame({0xF0, 0x20}), (Bytes{0xF0, 0x20}));
    EXPECT_EQ(Frame({0x30}), (Bytes{0x30}));
    // More bytes than the header announces, or fewer than d - 1: nothing.
    EXPECT_TRUE(Frame({0xF1, 0x13, 0x00}).empty());
    EXPECT_TRUE(Frame({0xF1, 0x13, 0xFB, 0x00}).empty());
    EXPECT_TRUE(Frame({0xF5, 0x11, 0x04}).empty());
    EXPECT_TRUE(Frame({0xF0, 0x20, 0x01}).empty());
    EXPECT_TRUE(Frame({}).empty());
    // A frame larger than the buffer it goes to.
    const Bytes big{0xFF, 0x17, 0x00, 0x10, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    uint8_t small[8];
    EXPECT_EQ(zimp::FrameRequest(big.data(), big.size(), small, sizeof small), 0u);
}

struct Parsed {
    std::vector<zimp::ReplyParser::Step> steps;
    Bytes payload;
};

Parsed Parse(zimp::ReplyParser& p, const Bytes& bytes) {
    Parsed out;
    for (uint8_t b : bytes) {
        const auto step = p.Feed(b);
        out.steps.push_back(step);
        if (step == zimp::ReplyParser::Step::Payload)
            out.payload.push_back(b);
    }
    return out;
}

TEST(ZimpReplyParser, GoodRepliesOfEveryShape) {
    using Step = zimp::ReplyParser::Step;
    zimp::ReplyParser p;
    Parsed r = Parse(p, zimptest::WithChecksum({0xF3, 0x81, 0x12, 0x34}));
    EXPECT_EQ(r.steps.back(), Step::Good);
    EXPECT_EQ(r.payload, (Bytes{0x12, 0x34}));
    EXPECT_EQ(p.Opcode(), 0xF381);

    p.Reset();
    r = Parse(p, zimptest::WithChecksum({0xFF, 0x80, 0x00, 0x06, 0x80, 0x10, 0x00, 0xAA, 0xBB}));
    EXPECT_EQ(r.steps.back(), Step::Good);
    EXPECT_EQ(r.payload, (Bytes{0x80, 0x10, 0x00, 0xAA, 0xBB}));
    EXPECT_EQ(p.Opcode(), 0xFF80);

    // A checksum-only reply: the byte after the opcode is the checksum.
    p.Reset();
    r = Parse(p, zimptest::WithChecksum({0xF1, 0x86}));
    EXPECT_EQ(r.steps, (std::vector<Step>{Step::More, Step::More, Step::Good}));
    EXPECT_EQ(p.Opcode(), 0xF186);

    // One-byte opcodes, plain and extended.
    p.Reset();
    r = Parse(p, zimptest::WithChecksum({0x23, 0x01, 0x02}));
    EXPECT_EQ(r.steps.back(), Step::Good);
    EXPECT_EQ(p.Opcode(), 0x2300);
    p.Reset();
    r = Parse(p, zimptest::WithChecksum({0x2F, 0x00, 0x02, 0x09}));
    EXPECT_EQ(r.steps.back(), Step::Good);
    EXPECT_EQ(r.payload, (Bytes{0x09}));

    // Extended length 1: no payload, the next byte is the checksum.
    p.Reset();
    r = Parse(p, zimptest::WithChecksum({0xFF, 0x80, 0x00, 0x01}));
    EXPECT_EQ(r.steps.back(), Step::Good);
    EXPECT_TRUE(r.payload.empty());
}

TEST(ZimpReplyParser, ChecksumErrorIsNeverData) {
    zimp::ReplyParser p;
    Bytes f = zimptest::WithChecksum({0xF3, 0x81, 0x12, 0x34});
    f.back() ^= 1;
    const Parsed r = Parse(p, f);
    EXPECT_EQ(r.steps.back(), zimp::ReplyParser::Step::BadChecksum);
    EXPECT_EQ(p.Opcode(), 0xF381);
    EXPECT_NE(p.Sum(), 0xFF);
}

TEST(ZimpReplyParser, OpcodeOnlyFramesEndAtOnce) {
    zimp::ReplyParser p;
    EXPECT_EQ(p.Feed(0x40), zimp::ReplyParser::Step::OpcodeOnly);
    EXPECT_EQ(p.Opcode(), 0x4000);  // a one-byte opcode has a low byte of 0
    p.Reset();
    EXPECT_EQ(p.Feed(0xF0), zimp::ReplyParser::Step::More);
    EXPECT_EQ(p.Feed(0x84), zimp::ReplyParser::Step::OpcodeOnly);
    EXPECT_EQ(p.Opcode(), 0xF084);
}

TEST(ZimpReplyParser, ExtendedLengthZeroNeverEnds) {
    zimp::ReplyParser p;
    Parse(p, {0xFF, 0x80, 0x00, 0x00});
    EXPECT_EQ(p.PayloadToGo(), zimp::ReplyParser::kUnbounded);
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(p.Feed(static_cast<uint8_t>(i)), zimp::ReplyParser::Step::Payload);
}

TEST(ZimpReceiveBuffer, GrowsInStepsOfThirtyTwoUpToTheLimit) {
    zimp::ReceiveBuffer buf;
    EXPECT_EQ(buf.Capacity(), 257u);
    for (int i = 0; i < 257; ++i)
        buf.Push(1);
    EXPECT_EQ(buf.Capacity(), 257u);
    buf.Push(2);
    EXPECT_EQ(buf.Capacity(), 289u);
    for (uint32_t i = buf.Size(); i < 70000; ++i)
        buf.Push(static_cast<uint8_t>(i));
    EXPECT_EQ(buf.Size(), zimp::ReceiveBuffer::kLimit);
    EXPECT_EQ(buf.Capacity(), zimp::ReceiveBuffer::kLimit);
    EXPECT_EQ(buf.Dropped(), 70000u - 65535u);
    EXPECT_FALSE(buf.Push(9));
    // The oldest bytes were kept, the excess dropped.
    EXPECT_EQ(buf.Data()[257], 2);
    EXPECT_EQ(buf.Data()[65534], static_cast<uint8_t>(65534));
}

TEST(ZimpReceiveBuffer, TakesOldestFirstAndShrinksWhenEmptied) {
    zimp::ReceiveBuffer buf;
    for (int i = 0; i < 1000; ++i)
        buf.Push(static_cast<uint8_t>(i));
    uint8_t out[600];
    ASSERT_EQ(buf.Take(out, 600), 600u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[599], static_cast<uint8_t>(599));
    EXPECT_EQ(buf.Size(), 400u);
    // Room freed at the front is used again before the buffer grows.
    const uint32_t cap = buf.Capacity();
    for (int i = 0; i < 500; ++i)
        buf.Push(7);
    EXPECT_EQ(buf.Capacity(), cap);
    ASSERT_EQ(buf.Take(out, 1), 1u);
    EXPECT_EQ(out[0], static_cast<uint8_t>(600));
    uint8_t rest[1000];
    EXPECT_EQ(buf.Take(rest, sizeof rest), 899u);
    EXPECT_EQ(buf.Size(), 0u);
    EXPECT_EQ(buf.Capacity(), 257u);
    EXPECT_EQ(buf.Take(rest, 5), 0u);
}

struct ReportRow {
    int32_t result;
    uint32_t link;
    const char* text;  // nullptr: no message
    bool stop;
};

TEST(ZimpReportError, EveryRowOfTheTable) {
    const ReportRow rows[] = {
        {1, 0, nullptr, false},
        {0, 0, nullptr, false},
        {-6, 0, nullptr, false},
        {-6, 2, nullptr, false},
        {-7, 0,
         "Unwelcome Reply is received or there was a port error.\rTry to increase block size or "
         "to reduce baudrate.\n",
         true},
        {-5, 0, "Unsupported Opcode Reply is received.\n", true},
        {-4, 0, "Reply Format is wrong.\n", true},
        {-3, 0, "Request Format is Wrong.\n", true},
        {-2, 5, "Reply Timeout.\n", true},
        {-1, 0, nullptr, false},
        {-1, 6, nullptr, false},
        {-1, 1, "Serial Port Line Error (overrun, frame, etc)\n", true},
        {-1, 2, "NAK is received\n", true},
        {-1, 3, "Check Sum Error.\n", true},
        {-1, 4, "ACK Timeout Error.\n", true},
        {-1, 5, "Message Timeout Errror.\n", true},
        {-1, 7, "Port is not open or its handler is bad.\n", true},
        {-1, 8, "The port went away.\n", true},  // named by the port it was attached to
        {-1, 9, nullptr, true},
        {2, 0, nullptr, true},
        {-8, 0, nullptr, true},
    };
    zimptest::MessageCapture boxes;
    ZimpEngine engine;
    for (const ReportRow& row : rows) {
        boxes.Clear();
        engine.SetOutcome(static_cast<zimp::LinkError>(row.link),
                          static_cast<zimp::RequestResult>(row.result));
        EXPECT_EQ(engine.ReportError(), row.stop) << row.result << "/" << row.link;
        const auto texts = boxes.Texts();
        if (row.text == nullptr) {
            EXPECT_TRUE(texts.empty()) << row.result << "/" << row.link;
        } else {
            ASSERT_EQ(texts.size(), 1u) << row.result << "/" << row.link;
            // The box carries the line without its ending '\n'.
            std::string expected = row.text;
            expected.pop_back();
            EXPECT_EQ(texts[0], expected);
        }
        // Reporting changes nothing.
        EXPECT_EQ(zimp::ToInteger(engine.RequestResult()), row.result);
        EXPECT_EQ(zimp::ToInteger(engine.LinkError()), row.link);
    }
}

TEST(ZimpEngineDetached, EveryCallWithoutAPortIsLinkErrorSeven) {
    ZimpEngine engine;
    EXPECT_FALSE(engine.Attach(nullptr, false));
    EXPECT_EQ(engine.LinkError(), zimp::LinkError::NoPort);
    const uint8_t status[2] = {0xF1, 0x14};
    EXPECT_EQ(engine.Transact(status, 2), zimp::RequestResult::LinkFailure);
    EXPECT_EQ(engine.LinkError(), zimp::LinkError::NoPort);
    uint16_t length = 0;
    EXPECT_EQ(engine.GetConfiguration(length), zimp::RequestResult::LinkFailure);
    EXPECT_FALSE(engine.ReceiveReply());
    EXPECT_EQ(engine.LinkError(), zimp::LinkError::NoPort);
}

}  // namespace
