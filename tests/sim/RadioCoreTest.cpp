// The simulated radio's core without a line: its frame reader, memory model, answers,
// faults and dump files. Its replies are checked with the engine's own parser, and its
// request parsing with the engine's own framing.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/radio/RadioFrameReader.h"
#include "sim/radio/RadioMemory.h"
#include "sim/radio/ZimpRadio.h"
#include "zimp/ZimpFrame.h"
#include "zimp/ZimpTestSupport.h"

using zimptest::Bytes;

namespace {

class CaptureLine : public radio::RadioLine {
  public:
    void Send(const uint8_t* b, size_t n) override {
        chunks.emplace_back(b, b + n);
        all.insert(all.end(), b, b + n);
    }
    void Echo(const uint8_t* b, size_t n) override {
        echoed.insert(echoed.end(), b, b + n);
        all.insert(all.end(), b, b + n);
    }
    uint64_t SendNoted(const uint8_t* b, size_t n) override {
        Send(b, n);
        return sentAtMs;
    }
    uint64_t sentAtMs = 0;  // what SendNoted tells
    std::vector<Bytes> chunks;
    Bytes echoed;  // what came back through Echo: paced as it arrives, not as an answer
    Bytes all;
};

Bytes Framed(const Bytes& request) {
    Bytes out(zimp::kMaxFrameLength);
    out.resize(zimp::FrameRequest(request.data(), request.size(), out.data(), out.size()));
    return out;
}

struct Exchange {
    uint8_t ack = 0;
    uint16_t opcode = 0;
    Bytes payload;
    bool good = false;
    size_t replies = 0;
};

// Sends one request to the radio and reads its answer with the engine's parser.
Exchange Ask(radio::ZimpRadio& r, const Bytes& request, uint64_t now = 1000) {
    CaptureLine line;
    const Bytes f = Framed(request);
    r.Receive(f.data(), f.size(), now, line);
    Exchange x;
    if (line.all.empty())
        return x;
    x.ack = line.all[0];
    zimp::ReplyParser p;
    for (size_t i = 1; i < line.all.size(); ++i) {
        const auto step = p.Feed(line.all[i]);
        if (step == zimp::ReplyParser::Step::Payload)
            x.payload.push_back(line.all[i]);
        if (step == zimp::ReplyParser::Step::Good || step == zimp::ReplyParser::Step::BadChecksum) {
            x.good = step == zimp::ReplyParser::Step::Good;
            ++x.replies;
        }
    }
    x.opcode = p.Opcode();
    return x;
}

Bytes WriteRequest(uint32_t address, const Bytes& data) {
    Bytes r{0xFF,
            0x17,
            static_cast<uint8_t>((data.size() + 4) >> 8),
            static_cast<uint8_t>(data.size() + 4),
            static_cast<uint8_t>(address >> 16),
            static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address)};
    for (uint8_t b : data)
        r.push_back(b);
    return r;
}

Bytes ReadRequest(uint32_t address, uint8_t n) {
    return {0xF5,
            0x11,
            n,
            static_cast<uint8_t>(address >> 16),
            static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address)};
}

TEST(RadioFrameReader, CompletesFramesAndChecksThem) {
    radio::FrameReader reader(100);
    const Bytes good = Framed({0xF5, 0x11, 0x04, 0x80, 0x10, 0x00});
    for (size_t i = 0; i + 1 < good.size(); ++i)
        EXPECT_EQ(reader.Push(good[i], 0), radio::FrameReader::Result::Partial);
    EXPECT_EQ(reader.Push(good.back(), 0), radio::FrameReader::Result::Frame);
    EXPECT_EQ(reader.Frame(), good);

    Bytes bad = good;
    bad[3] ^= 0x10;
    radio::FrameReader::Result last{};
    for (uint8_t b : bad)
        last = reader.Push(b, 1);
    EXPECT_EQ(last, radio::FrameReader::Result::BadChecksum);

    // A bare opcode needs no checksum; an extended length of 0 is refused at its length field.
    EXPECT_EQ(reader.Push(0x30, 2), radio::FrameReader::Result::Frame);
    EXPECT_EQ(reader.Push(0xFF, 2), radio::FrameReader::Result::Partial);
    EXPECT_EQ(reader.Push(0x17, 2), radio::FrameReader::Result::Partial);
    EXPECT_EQ(reader.Push(0x00, 2), radio::FrameReader::Result::Partial);
    EXPECT_EQ(reader.Push(0x00, 2), radio::FrameReader::Result::BadChecksum);
}

TEST(RadioFrameReader, TakingRunsAtOnceEndsFramesWhereSingleBytesDo) {
    // Good, bad, extended, bare and refused frames back to back, and a stale partial frame.
    Bytes stream = Framed({0xF5, 0x11, 0x04, 0x80, 0x10, 0x00});
    Bytes bad = stream;
    bad[3] ^= 0x10;
    Bytes extended = {0xFF, 0x17, 0x01, 0x04};
    for (int i = 0; i < 256 + 3; ++i)
        extended.push_back(static_cast<uint8_t>(i * 13));
    extended = Framed(extended);
    for (const Bytes& b : {bad, extended, Bytes{0x30, 0xFF, 0x17, 0x00, 0x00}, stream})
        stream.insert(stream.end(), b.begin(), b.end());
    const Bytes stale = {0xF5, 0x11, 0x04};
    struct Seen {
        radio::FrameReader::Result result;
        Bytes frame;
        bool operator==(const Seen&) const = default;
    };
    auto run = [&](size_t chunk, bool runs) {
        radio::FrameReader reader(100);
        std::vector<Seen> seen;
        auto feed = [&](const Bytes& bytes, uint64_t now) {
            for (size_t at = 0; at < bytes.size(); at += chunk) {
                const size_t n = std::min(chunk, bytes.size() - at);
                for (size_t i = 0; i < n; ++i) {
                    if (runs)
                        i += reader.PushWithin(bytes.data() + at + i, n - i, now);
                    if (i == n)
                        break;
                    const auto r = reader.Push(bytes[at + i], now);
                    if (r != radio::FrameReader::Result::Partial)
                        seen.push_back({r, reader.Frame()});
                }
            }
        };
        feed(stale, 0);
        feed(stream, 500);
        return std::make_pair(seen, reader.DroppedPartials());
    };
    const auto bytewise = run(1, false);
    EXPECT_EQ(bytewise.first.size(), 6u);
    EXPECT_EQ(bytewise.second, 1u);
    for (size_t chunk : {1u, 2u, 7u, 64u, 4096u})
        EXPECT_EQ(run(chunk, true), bytewise) << "chunks of " << chunk;
}

TEST(RadioFrameReader, DropsAStalePartialFrameAfterSilence) {
    radio::FrameReader reader(100);
    // Garbage that announces a 65,535-byte frame.
    reader.Push(0xFF, 0);
    reader.Push(0x99, 0);
    reader.Push(0xFF, 0);
    reader.Push(0xFF, 50);
    EXPECT_TRUE(reader.HasPartial());
    EXPECT_FALSE(reader.Expire(120));  // 70 ms since the last byte
    EXPECT_TRUE(reader.Expire(150));
    EXPECT_EQ(reader.DroppedPartials(), 1u);
    // And also when the next byte comes late without an Expire in between.
    reader.Push(0xF1, 200);
    const Bytes good = Framed({0xF1, 0x13});
    radio::FrameReader::Result last{};
    for (uint8_t b : good)
        last = reader.Push(b, 400);
    EXPECT_EQ(last, radio::FrameReader::Result::Frame);
    EXPECT_EQ(reader.DroppedPartials(), 2u);
}

TEST(RadioMemory, SparseMemoriesWithFillAndBlocks) {
    radio::RadioMemory m;
    EXPECT_EQ(m.Read(0x801000), 0xFF);
    m.Write(0x8010FF, 1);
    m.Write(0x801100, 2);  // crosses a page
    m.Write(0x801102, 3);
    m.Write(0x400000, 4);
    EXPECT_EQ(m.Read(0x801100), 2);
    EXPECT_EQ(m.Read(0x001100), 0xFF);  // another memory at the same offset
    const auto blocks = m.Blocks(8);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].address, 0x8010FFu);
    EXPECT_EQ(blocks[0].data, (Bytes{1, 2}));
    EXPECT_EQ(blocks[1].address, 0x801102u);
    m.Fill(4, 0);
    EXPECT_EQ(m.Read(0x400000), 0);
    EXPECT_EQ(m.Read(0x4FFFFF), 0);
    EXPECT_EQ(m.Read(0x801100), 2);  // other memories untouched
    EXPECT_EQ(m.WrittenBytes(), 3u);
}

TEST(ZimpRadioCore, AnswersEveryRequest) {
    radio::ZimpRadio r;
    Exchange x = Ask(r, WriteRequest(0x801000, {1, 2, 3, 4, 5}));
    EXPECT_EQ(x.ack, 0x50);
    EXPECT_TRUE(x.good);
    EXPECT_EQ(x.opcode, 0xF484);
    EXPECT_EQ(x.payload, (Bytes{0x80, 0x10, 0x00}));

    x = Ask(r, ReadRequest(0x801001, 6));
    EXPECT_EQ(x.opcode, 0xFF80);
    EXPECT_TRUE(x.good);
    EXPECT_EQ(x.payload, (Bytes{0x80, 0x10, 0x01, 2, 3, 4, 5, 0xFF, 0xFF}));

    x = Ask(r, {0xF6, 0x12, 0x00, 0x06, 0x80, 0x10, 0x00});
    EXPECT_EQ(x.opcode, 0xF381);
    EXPECT_EQ(x.payload, (Bytes{0x01, 0x0E}));  // 1+2+3+4+5+0xFF

    x = Ask(r, {0xF1, 0x13});
    EXPECT_EQ(x.opcode, 0xF482);
    EXPECT_EQ(x.payload, (Bytes{0x20, 0x00, 0x00}));

    x = Ask(r, {0xF1, 0x14});
    EXPECT_EQ(x.opcode, 0xF583);
    EXPECT_EQ(x.payload, (Bytes{0x00, 0x80, 0x10, 0x00}));

    Ask(r, WriteRequest(0x400010, {9}));
    x = Ask(r, {0xF1, 0x16});
    EXPECT_EQ(x.opcode, 0xF484);
    EXPECT_EQ(r.ReadMemory(0x400000, 0x20), Bytes(0x20, 0));
    x = Ask(r, {0xF1, 0x15});
    EXPECT_EQ(x.opcode, 0xF484);
    EXPECT_EQ(r.ReadMemory(0x400010, 1), Bytes{0xFF});

    x = Ask(r, WriteRequest(0xFFFFFF, {}));
    EXPECT_EQ(x.opcode, 0xF484);
    EXPECT_EQ(x.payload, (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(r.Markers(), (std::vector<uint32_t>{static_cast<uint32_t>(r.Stats().frames)}));
    x = Ask(r, {0xF1, 0x14});
    EXPECT_EQ(x.payload[0], 1);  // the load has ended

    // Unknown opcodes, and known ones with a wrong length, are "Unsupported Opcode".
    for (const Bytes& req :
         {Bytes{0xF1, 0x20}, Bytes{0xF2, 0x13, 0x00}, Bytes{0x33, 0x02, 0x03}, Bytes{0xF0, 0x13}}) {
        x = Ask(r, req);
        EXPECT_EQ(x.ack, 0x50);
        EXPECT_EQ(x.opcode, 0xF186);
        EXPECT_TRUE(x.good);
    }
}

TEST(ZimpRadioCore, NaksABadChecksumAndAnswersNothingElse) {
    radio::ZimpRadio r;
    Bytes f = Framed(WriteRequest(0x801000, {1}));
    f.back() ^= 0x55;
    CaptureLine line;
    r.Receive(f.data(), f.size(), 0, line);
    EXPECT_EQ(line.all, Bytes{0x4E});
    EXPECT_EQ(r.ReadMemory(0x801000, 1), Bytes{0xFF});
    EXPECT_EQ(r.Stats().badChecksums, 1u);
}

TEST(ZimpRadioCore, NotesWhenEachFrameBeganAndWhenItsNakWentOut) {
    radio::ZimpRadioOptions o;
    o.nakFirstWrites = 1;
    o.dumpTimes = true;
    radio::ZimpRadio r(o);
    CaptureLine line;
    const Bytes w = Framed(WriteRequest(0x801000, {1, 2, 3}));
    Bytes bad = w;
    bad.back() ^= 1;
    // A frame in two pieces arrived with its first; each NAK is noted as the line tells.
    line.sentAtMs = 5000;
    r.Receive(w.data(), 2, 1000, line);
    r.Receive(w.data() + 2, w.size() - 2, 1300, line);
    line.sentAtMs = 6000;
    r.Receive(w.data(), w.size(), 2000, line);
    line.sentAtMs = 7000;
    r.Receive(bad.data(), bad.size(), 2500, line);
    const auto q = r.Requests();
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].answer, "nak");
    EXPECT_EQ(q[0].arrivedMs, 1000u);
    EXPECT_EQ(q[0].nakSentMs.value_or(0), 5000u);
    EXPECT_EQ(q[1].answer, "ack");
    EXPECT_EQ(q[1].arrivedMs, 2000u);
    EXPECT_FALSE(q[1].nakSentMs.has_value());
    EXPECT_EQ(q[2].answer, "nak-checksum");
    EXPECT_EQ(q[2].nakSentMs.value_or(0), 7000u);

    std::ostringstream dump;
    r.WriteDump(dump);
    const auto doc = nlohmann::json::parse(dump.str());
    EXPECT_EQ(doc["requests"][0]["arrived_ms"], 1000);
    EXPECT_EQ(doc["requests"][0]["nak_sent_ms"], 5000);
    EXPECT_FALSE(doc["requests"][1].contains("nak_sent_ms"));
}

TEST(ZimpRadioCore, FaultOptions) {
    radio::ZimpRadioOptions o;
    o.nakFirstWrites = 2;
    o.nakEvery = 5;
    radio::ZimpRadio naks(o);
    std::vector<uint8_t> acks;
    for (int i = 0; i < 6; ++i)
        acks.push_back(Ask(naks, i == 3 ? Bytes{0xF1, 0x14} : WriteRequest(0x800000, {1})).ack);
    EXPECT_EQ(acks, (Bytes{0x4E, 0x4E, 0x50, 0x50, 0x4E, 0x50}));
    EXPECT_EQ(naks.Requests()[1].answer, "nak");

    o = {};
    o.badWriteAt = 0x801003;
    radio::ZimpRadio bad(o);
    Exchange x = Ask(bad, WriteRequest(0x801000, {1, 2, 3, 4}));
    EXPECT_EQ(x.opcode, 0xF485);
    EXPECT_EQ(x.payload, (Bytes{0x80, 0x10, 0x03}));
    EXPECT_EQ(bad.ReadMemory(0x801000, 1), Bytes{0xFF});
    EXPECT_EQ(Ask(bad, WriteRequest(0x801004, {1})).opcode, 0xF484);

    o = {};
    o.silentAfter = 1;
    radio::ZimpRadio silent(o);
    EXPECT_EQ(Ask(silent, {0xF1, 0x14}).ack, 0x50);
    EXPECT_EQ(Ask(silent, {0xF1, 0x14}).ack, 0);  // nothing at all
    EXPECT_EQ(silent.Requests().back().answer, "silent");

    o = {};
    o.wrongOpcodeAt = 2;
    radio::ZimpRadio wrong(o);
    EXPECT_EQ(Ask(wrong, ReadRequest(0x800000, 2)).opcode, 0xFF80);
    x = Ask(wrong, ReadRequest(0x800000, 2));
    EXPECT_EQ(x.opcode, 0xFF87);
    EXPECT_TRUE(x.good);
    EXPECT_EQ(Ask(wrong, ReadRequest(0x800000, 2)).opcode, 0xFF80);

    o = {};
    o.shortRead = true;
    radio::ZimpRadio shortRead(o);
    EXPECT_EQ(Ask(shortRead, ReadRequest(0x800000, 8)).payload.size(), 3u + 7);

    o = {};
    o.echo = true;
    o.bufferLength = 0x1234;
    radio::ZimpRadio echo(o);
    CaptureLine line;
    const Bytes f = Framed({0xF1, 0x13});
    echo.Receive(f.data(), f.size(), 0, line);
    ASSERT_GE(line.all.size(), 4u);
    EXPECT_EQ(Bytes(line.all.begin(), line.all.begin() + 4), (Bytes{0xF1, 0x13, 0xFB, 0x50}));
    EXPECT_EQ(line.all[6], 0x12);
    EXPECT_EQ(line.all[7], 0x34);
    EXPECT_EQ(line.echoed, f) << "the request comes back as an echo, the answer does not";
}

TEST(ZimpRadioCore, GarbageNeverCrashesAndTheLineRecovers) {
    radio::ZimpRadio r;
    CaptureLine line;
    uint32_t seed = 12345;
    Bytes garbage(200000);
    for (auto& b : garbage) {
        seed = seed * 1103515245 + 12345;
        b = static_cast<uint8_t>(seed >> 16);
    }
    r.Receive(garbage.data(), garbage.size(), 0, line);
    // After a silence a good request is answered again.
    r.Idle(10000);
    const Exchange x = Ask(r, {0xF1, 0x13}, 10001);
    EXPECT_EQ(x.ack, 0x50);
    EXPECT_EQ(x.opcode, 0xF482);
}

TEST(ZimpRadioCore, DumpLoadsBackIntoAnotherRadio) {
    radio::ZimpRadio first;
    Ask(first, WriteRequest(0x801000, {1, 2, 3}));
    Ask(first, WriteRequest(0x000020, {0xAB}));
    Ask(first, {0xF1, 0x16});  // Flash reads 0 everywhere
    Ask(first, WriteRequest(0xFFFFFF, {}));
    std::ostringstream dump;
    first.WriteDump(dump);

    const auto doc = nlohmann::json::parse(dump.str(), nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << dump.str();
    std::string error;
    ASSERT_TRUE(doc.contains("requests"));
    EXPECT_EQ(doc["requests"].size(), 4u);
    ASSERT_EQ(doc["markers"].size(), 1u);
    EXPECT_EQ(doc["markers"][0]["request"], 4);

    radio::ZimpRadio second;
    ASSERT_TRUE(second.LoadJson(dump.str(), error)) << error;
    EXPECT_EQ(second.ReadMemory(0x801000, 4), (Bytes{1, 2, 3, 0xFF}));
    EXPECT_EQ(second.ReadMemory(0x000020, 1), Bytes{0xAB});
    EXPECT_EQ(second.ReadMemory(0x4ABCDE, 1), Bytes{0});
}

TEST(ZimpRadioCore, LoadRefusesBadFiles) {
    radio::ZimpRadio r;
    r.Preload(0x800000, {7});
    std::string error;
    for (const char* text :
         {"", "{", "[]", "{\"memories\": 3}", "{\"memories\": [{\"code\": 16}]}",
          "{\"memories\": [{\"code\": 8, \"blocks\": [{\"address\": 16777215, \"data\": "
          "\"0102\"}]}]}",
          "{\"memories\": [{\"code\": 8, \"blocks\": [{\"address\": 1, \"data\": \"0g\"}]}]}",
          "{\"memories\": [{\"code\": 8, \"blocks\": [{\"address\": -1, \"data\": \"\"}]}]}",
          "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["}) {
        EXPECT_FALSE(r.LoadJson(text, error)) << text;
        EXPECT_FALSE(error.empty());
    }
    // A refused file leaves the memories as they were.
    EXPECT_EQ(r.ReadMemory(0x800000, 1), Bytes{7});
}

}  // namespace
