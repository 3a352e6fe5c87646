// The JSON documents the tools write, byte for byte: `zimp info --json` and the simulated
// radio's dump files, against the copies kept in tests/data/json. A document that differs is
// left beside the test binary as <name>.actual.

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>

#include "sim/radio/BootRadio.h"
#include "sim/radio/TqvRadio.h"
#include "sim/radio/ZimpRadio.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "zimp/ZimpFrame.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kData = ZIMP_JSON_DATA;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Compares with the kept document; on a difference keeps the new one for a look.
void ExpectKept(const std::string& name, const std::string& actual) {
    const std::string kept = ReadFile(kData + "/" + name);
    if (actual != kept)
        std::ofstream(name + ".actual", std::ios::binary) << actual;
    ASSERT_FALSE(kept.empty()) << "no kept document " << name;
    EXPECT_EQ(actual, kept) << name;
}

class NullLine : public radio::RadioLine {
  public:
    void Send(const uint8_t*, size_t) override {}
};

Bytes Framed(const Bytes& request) {
    Bytes out(zimp::kMaxFrameLength);
    out.resize(zimp::FrameRequest(request.data(), request.size(), out.data(), out.size()));
    return out;
}

std::string Dump(const radio::RadioMode& mode) {
    std::ostringstream out;
    mode.WriteDump(out);
    return out.str();
}

}  // namespace

TEST(JsonDocuments, InfoOfEachSample) {
    TempDir dir;
    const std::string config = dir.Write("ZIMPProtocol.ini", "");
    const std::string firmware = ZIMP_SOURCE_DIR "/examples/firmware.s28";
    for (const std::string name :
         {"gaps.s19", "wide.s37", "adjacent.s37", "noheader.s28", "header-empty.s19",
          "header-quotes.s19", "header-control.s19", "header-nonascii.s19", "header-nul.s19"}) {
        Subprocess p({ZIMP_CLI, "--config", config, "info", "--json", kData + "/" + name});
        p.CloseInput();
        EXPECT_EQ(p.Wait(), 0) << name << ": " << p.err;
        ExpectKept(name + ".json", p.out);
    }
    Subprocess p({ZIMP_CLI, "--config", config, "info", "--json", firmware});
    p.CloseInput();
    EXPECT_EQ(p.Wait(), 0) << p.err;
    ExpectKept("firmware.s28.json", p.out);
}

TEST(JsonDocuments, SimulatorDumpsWhatItPreloaded) {
    TempDir dir;
    for (const std::string name : {"preload-minimal", "preload-memories", "preload-empty"}) {
        Subprocess sim({ZIMP_RADIO_SIM, "--load", kData + "/" + name + ".json", "--dump",
                        dir.File("dump.json")});
        ASSERT_FALSE(sim.WaitForLine("PTY ").empty()) << name << ": " << sim.err;
        sim.Signal(SIGTERM);
        EXPECT_EQ(sim.Wait(), 0) << name;
        ExpectKept(name + ".dump.json", dir.Read("dump.json"));
    }
}

TEST(JsonDocuments, ZimpRadioDumpsRequestsMarkersAndStats) {
    radio::ZimpRadio fresh;
    ExpectKept("zimp-fresh.dump.json", Dump(fresh));

    radio::ZimpRadioOptions options;
    options.nakFirstWrites = 1;
    options.silentAfter = 11;
    radio::ZimpRadio r(options);
    NullLine line;
    uint64_t now = 1000;
    auto send = [&](const Bytes& bytes) {
        r.Receive(bytes.data(), bytes.size(), now, line);
        now += 1000;
        r.Idle(now);
    };
    send(Framed({0xFF, 0x17, 0x00, 0x07, 0x80, 0x10, 0x00, 1, 2, 3}));  // Write Data, NAKed
    send(Framed({0xFF, 0x17, 0x00, 0x07, 0x80, 0x10, 0x00, 1, 2, 3}));
    send(Framed({0xFF, 0x17, 0x00, 0x06, 0x00, 0x00, 0x20, 0xAB, 0xCD}));
    send(Framed({0xF5, 0x11, 4, 0x80, 0x10, 0x00}));           // Read
    send(Framed({0xF6, 0x12, 0x00, 0x06, 0x80, 0x10, 0x00}));  // Check Sum
    send(Framed({0xF1, 0x13}));                                // Configuration
    send(Framed({0xF1, 0x14}));                                // Status
    send(Framed({0xF1, 0x16}));                                // Zero Flash
    send(Framed({0xF1, 0x20}));                                // unknown
    Bytes bad = Framed({0xF1, 0x13});
    bad.back() ^= 0x01;
    send(bad);
    send(Framed({0xFF, 0x17, 0x00, 0x04, 0xFF, 0xFF, 0xFF}));  // end of load
    send(Framed({0xF1, 0x15}));                                // after --silent-after
    send({0xFF, 0x17, 0x00});                                  // a partial frame, dropped
    ExpectKept("zimp-session.dump.json", Dump(r));
}

TEST(JsonDocuments, BootAndTqvRadiosDumpWhatTheyReceived) {
    radio::BootRadio boot;
    ExpectKept("boot-fresh.dump.json", Dump(boot));
    NullLine line;
    const Bytes program{0x00, 0xFF, 0x12, 0xAB, 0x00, 0x7F};
    boot.Receive(program.data(), program.size(), 0, line);
    ExpectKept("boot-session.dump.json", Dump(boot));

    radio::TqvRadio tqv;
    ExpectKept("tqv-fresh.dump.json", Dump(tqv));
    Bytes blocks;
    for (int good = 1; good >= 0; --good) {
        const Bytes header{0x00, 0x40, 0x00, 0x10, 0x00, 0x03, 0x00, 0x02};
        const Bytes data{0x01, 0x02, 0xFE};
        unsigned sum = 0;
        for (uint8_t b : header)
            sum += b;
        for (uint8_t b : data)
            sum += b;
        blocks.insert(blocks.end(), {0x55, 0x55, 0x55, 0xAA});
        blocks.insert(blocks.end(), header.begin(), header.end());
        blocks.insert(blocks.end(), data.begin(), data.end());
        blocks.push_back(static_cast<uint8_t>(0xFF - (sum & 0xFF) + (good ? 0 : 1)));
    }
    tqv.Receive(blocks.data(), blocks.size(), 0, line);
    ExpectKept("tqv-session.dump.json", Dump(tqv));
}

TEST(JsonDocuments, SimulatorRefusesBadPreloadsWithItsReasons) {
    TempDir dir;
    const std::string file = dir.File("preload.json");
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"", "unexpected end at offset 0"},
        {"   ", "unexpected end at offset 3"},
        {"{", "expected a key at offset 1"},
        {"{memories: []}", "expected a key at offset 1"},
        {"{\"memories\": [],}", "expected a key at offset 16"},
        {"{\"memories\": []} x", "text after the value at offset 17"},
        {"{\"a\": \"abc", "unterminated string at offset 10"},
        {"{\"a\": -}", "bad number at offset 7"},
        {"\xEF\xBB\xBF{\"memories\": []}", "unexpected character at offset 0"},
        {"nul", "unknown literal at offset 0"},
        {"{\"memories\" 1}", "expected : at offset 13"},
        {"{\"memories\": [1 2]}", "expected , or ] at offset 17"},
        {"{\"a\": \"\x01\"}", "control character in string at offset 8"},
        {"{\"a\": \"\\x\"}", "bad escape at offset 9"},
        {"{\"a\": \"\\u12zz\"}", "bad escape at offset 12"},
        {"{\"memories\": []}\n\x01", "text after the value at offset 17"},
        {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[",
         "nested too deeply at offset 65"},
        {"[]", "no \"memories\" array"},
        {"{\"memories\": 3}", "no \"memories\" array"},
        {"{\"memories\": [{\"code\": 16}]}", "memory without a \"code\" from 0 to 15"},
        {"{\"memories\": [{\"code\": 8.5}]}", "memory without a \"code\" from 0 to 15"},
        {"{\"memories\": [{\"code\": 99, \"code\": 8}]}", "memory without a \"code\" from 0 to 15"},
        {"{\"memories\": [{\"code\": 8, \"fill\": 256}]}", "bad \"fill\""},
        {"{\"memories\": [{\"code\": 8, \"blocks\": 1}]}", "\"blocks\" is not an array"},
        {"{\"memories\": [{\"code\": 8, \"blocks\": [{\"address\": 1, \"data\": \"0g\"}]}]}",
         "bad hex digit in block data"},
        {"{\"memories\": [{\"code\": 8, \"blocks\": [{\"address\": 1, \"data\": \"012\"}]}]}",
         "bad block (address from 0 to 0xFFFFFF, data as hex pairs within it)"},
        {"{\"memories\": [{\"code\": 8, \"blocks\": [{\"address\": 16777215, \"data\": "
         "\"0102\"}]}]}",
         "bad block (address from 0 to 0xFFFFFF, data as hex pairs within it)"},
    };
    for (const auto& c : cases) {
        dir.Write("preload.json", c.text);
        Subprocess sim({ZIMP_RADIO_SIM, "--load", file});
        sim.CloseInput();
        EXPECT_EQ(sim.Wait(), 1) << c.text;
        EXPECT_EQ(sim.err, "zimp-radio-sim: cannot load " + file + ": " + c.reason + "\n")
            << c.text;
        EXPECT_EQ(sim.out, "") << c.text;
    }
}

TEST(JsonDocuments, SimulatorReadsAPreloadUnderALimit) {
    Subprocess sim({ZIMP_RADIO_SIM, "--load", "/dev/zero"});
    sim.CloseInput();
    EXPECT_EQ(sim.Wait(), 1);
    EXPECT_EQ(sim.err, "zimp-radio-sim: cannot load /dev/zero: larger than 64 MiB\n");
}
