// zimp on several ports at once, end to end: the real binary against simulated radios, one
// simulator process per radio.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <fcntl.h>
#include <csignal>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::vector<nlohmann::json> Records(const std::string& text) {
    std::vector<nlohmann::json> records;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        records.push_back(nlohmann::json::parse(line));
    return records;
}

class MultiPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.Write("z.ini",
                  "[configuration]\nBaudrate=115200\nEcho=0\n[LoadMemory]\n"
                  "BlockSize=256\n[SaveRAM]\nType=S1\nRange1=0x1000,0x10FF\n");
    }
    // Radio i on link r<i>, dumping to dump<i>.json; paced at baud when it is not 0.
    void StartRadios(int count, uint32_t baud, std::vector<std::string> extra = {}) {
        for (int i = 1; i <= count; ++i) {
            std::vector<std::string> argv = {ZIMP_RADIO_SIM, "--link", Link(i), "--dump",
                                             dir.File("dump" + std::to_string(i) + ".json")};
            if (baud)
                argv.insert(argv.end(), {"--baud", std::to_string(baud)});
            argv.insert(argv.end(), extra.begin(), extra.end());
            radios.push_back(std::make_unique<Subprocess>(argv));
            ASSERT_FALSE(radios.back()->WaitForLine("PTY ").empty()) << radios.back()->err;
        }
    }
    std::string Link(int i) const { return dir.File("r" + std::to_string(i)); }
    std::vector<std::string> Ports(int from, int to) const {
        std::vector<std::string> args;
        for (int i = from; i <= to; ++i)
            args.insert(args.end(), {"--port", Link(i)});
        return args;
    }
    std::string Dump(int i) {
        radios[i - 1]->Signal(SIGTERM);
        radios[i - 1]->Wait();
        return dir.Read("dump" + std::to_string(i) + ".json");
    }
    std::unique_ptr<Subprocess> Zimp(std::vector<std::string> args) {
        std::vector<std::string> argv = {ZIMP_CLI, "--config", dir.File("z.ini")};
        argv.insert(argv.end(), args.begin(), args.end());
        auto p = std::make_unique<Subprocess>(argv, dir.path());
        p->CloseInput();
        return p;
    }
    // bytes of data at 0x1000 in S1 records of 32 bytes.
    std::string ImageOf(int bytes) {
        std::string text = "S00600004844521B\n";
        for (int at = 0; at < bytes; at += 32) {
            const unsigned address = 0x1000 + at;
            unsigned sum = 0x23 + (address >> 8) + (address & 0xFF);
            char cell[16];
            std::snprintf(cell, sizeof cell, "S123%04X", address);
            text += cell;
            for (int i = 0; i < 32; ++i) {
                const unsigned b = (at + i * 7) & 0xFF;
                sum += b;
                std::snprintf(cell, sizeof cell, "%02X", b);
                text += cell;
            }
            std::snprintf(cell, sizeof cell, "%02X\n", ~sum & 0xFF);
            text += cell;
        }
        return dir.Write("img.s19", text + "S9030000FC\n");
    }

    TempDir dir;
    std::vector<std::unique_ptr<Subprocess>> radios;
};

}  // namespace

// Eight radios at once; one is killed midway: the seven others are loaded, its row fails, and
// the report holds all eight.
TEST_F(MultiPortTest, EightRadiosOneKilledMidway) {
    StartRadios(8, 38400);
    const std::string img = ImageOf(8192);  // over 2 s at 38400 baud
    std::vector<std::string> args = Ports(1, 8);
    args.insert(args.end(), {"--report", dir.File("line.jsonl"), "load", "ram", img});
    auto zimp = Zimp(args);
    ASSERT_TRUE(zimp->WaitUntil([&] { return Count(zimp->err, ": loading\n") == 8; })) << zimp->err;
    radios[2]->Signal(SIGKILL);
    EXPECT_EQ(zimp->Wait(), 1) << zimp->err;
    EXPECT_EQ(Count(zimp->out, " ok "), 7u) << zimp->out;
    EXPECT_NE(zimp->out.find(Link(3) + "  -      failed"), std::string::npos) << zimp->out;

    const std::vector<nlohmann::json> records = Records(dir.Read("line.jsonl"));
    ASSERT_EQ(records.size(), 8u);
    std::set<std::string> ports;
    for (const nlohmann::json& r : records) {
        ports.insert(r["port"].get<std::string>());
        EXPECT_EQ(r["outcome"], r["port"] == Link(3) ? "failed" : "ok") << r.dump();
        EXPECT_EQ(r["sha256"].get<std::string>().size(), 64u);
        EXPECT_EQ(r["operation"], "load");
        if (r["outcome"] == "ok")
            EXPECT_EQ(r["bytes"], 8192);
        else
            EXPECT_FALSE(r["message"].is_null());
    }
    EXPECT_EQ(ports.size(), 8u);
    for (int i : {1, 8})
        EXPECT_NE(Dump(i).find("\"markers\": [{\"request\""), std::string::npos) << "radio " << i;
}

// Ports that do not open (missing, held by another program) fail alone; a second run appends
// to the report without touching the first run's records.
TEST_F(MultiPortTest, PortsThatDoNotOpenFailAlone) {
    StartRadios(2, 0);
    const int held = open(Link(2).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    const std::string img = ImageOf(256);
    for (int run = 1; run <= 2; ++run) {
        std::vector<std::string> args = Ports(1, 2);
        args.insert(args.end(), {"--port", dir.File("missing"), "--report", dir.File("line.jsonl"),
                                 "load", "flash", img});
        auto zimp = Zimp(args);
        EXPECT_EQ(zimp->Wait(), 1);
        EXPECT_NE(zimp->err.find(dir.File("missing") + ": Cannot open port " + dir.File("missing") +
                                 ": No such file or directory."),
                  std::string::npos)
            << zimp->err;
        EXPECT_NE(zimp->err.find(Link(2) + ": Cannot open port"), std::string::npos);
        EXPECT_EQ(Count(zimp->out, " ok "), 1u) << zimp->out;
        EXPECT_EQ(Records(dir.Read("line.jsonl")).size(), 3u * run);
    }
    close(held);
}

// Ctrl-C stops every port at once: exit 130, every row cancelled, no radio got its end marker.
TEST_F(MultiPortTest, InterruptStopsEveryPort) {
    StartRadios(3, 9600);
    std::vector<std::string> args = Ports(1, 3);
    args.insert(args.end(), {"--report", dir.File("line.jsonl"), "load", "ram", ImageOf(4096)});
    auto zimp = Zimp(args);
    ASSERT_TRUE(zimp->WaitUntil([&] { return Count(zimp->err, ": loading\n") == 3; }));
    zimp->Signal(SIGINT);
    EXPECT_EQ(zimp->Wait(), 130);
    EXPECT_EQ(Count(zimp->out, " cancelled "), 3u) << zimp->out;
    for (const nlohmann::json& r : Records(dir.Read("line.jsonl")))
        EXPECT_EQ(r["outcome"], "cancelled");
    for (int i = 1; i <= 3; ++i)
        EXPECT_NE(Dump(i).find("\"markers\": []"), std::string::npos) << "radio " << i;
}

// Save, verify and request on several ports: each radio's save into its own file.
TEST_F(MultiPortTest, SaveVerifyAndRequestOnEveryPort) {
    StartRadios(2, 0);
    const std::string img = ImageOf(256);
    std::vector<std::string> args = Ports(1, 2);
    args.insert(args.end(), {"load", "ram", img});
    EXPECT_EQ(Zimp(args)->Wait(), 0);

    args = Ports(1, 2);
    args.insert(args.end(), {"save", "ram", "saved-{port}-{n}.s19"});
    auto save = Zimp(args);
    EXPECT_EQ(save->Wait(), 0) << save->err;
    EXPECT_EQ(dir.Read("saved-r1-1.s19"), dir.Read("saved-r2-2.s19"));
    EXPECT_NE(dir.Read("saved-r1-1.s19").find("S1231000"), std::string::npos);
    EXPECT_EQ(dir.Read("z.ini").find("File="), std::string::npos) << "configuration untouched";

    args = Ports(1, 2);
    args.insert(args.end(), {"save", "ram", "one-name.s19"});
    EXPECT_EQ(Zimp(args)->Wait(), 2);

    args = Ports(1, 2);
    args.insert(args.end(), {"verify", "ram", img});
    EXPECT_EQ(Zimp(args)->Wait(), 0);
    args = Ports(1, 2);
    args.insert(args.end(), {"verify", "flash", img});  // nothing was loaded there
    auto differs = Zimp(args);
    EXPECT_EQ(differs->Wait(), 1);
    EXPECT_EQ(Count(differs->err, ": Verify failed at address 1000\n"), 2u) << differs->err;

    // On one port, verify answers as load does.
    auto one = Zimp({"--port", Link(1), "verify", "ram", img});
    EXPECT_EQ(one->Wait(), 0) << one->err;
    EXPECT_EQ(one->out, "ram holds the 256 bytes of " + img + "\n");
    auto oneDiffers = Zimp({"--port", Link(1), "verify", "flash", img});
    EXPECT_EQ(oneDiffers->Wait(), 1);
    EXPECT_EQ(oneDiffers->err, "Verify failed at address 1000\n");

    // One wire trace per radio.
    args = {"--trace", "run-{port}.trace"};
    for (const std::string& a : Ports(1, 2))
        args.push_back(a);
    args.insert(args.end(), {"load", "ram", img});
    EXPECT_EQ(Zimp(args)->Wait(), 0);
    for (const char* file : {"run-r1.trace", "run-r2.trace"})
        EXPECT_EQ(Count(dir.Read(file), "> request Write Data ("), 2u) << file;  // block, end

    args = Ports(1, 2);
    args.insert(args.end(), {"request", "status"});
    auto status = Zimp(args);
    EXPECT_EQ(status->Wait(), 0);
    EXPECT_EQ(Count(status->err, ": Status is 0x01\n"), 2u) << status->err;
}

// Two stations share one serial-number file: no number is handed out twice, and each radio
// holds the number its record names.
TEST_F(MultiPortTest, TwoStationsShareOneSerialNumberFile) {
    StartRadios(6, 0);
    dir.Write("serial.txt", "1000\n");
    const std::string img = ImageOf(512);
    std::vector<std::unique_ptr<Subprocess>> stations;
    for (int s = 0; s < 2; ++s) {
        std::vector<std::string> args = Ports(1 + 3 * s, 3 + 3 * s);
        args.insert(args.end(), {"--report", dir.File("line.jsonl"), "load", "ram", img, "--serial",
                                 "0x2000=" + dir.File("serial.txt")});
        stations.push_back(Zimp(args));
    }
    for (auto& s : stations)
        EXPECT_EQ(s->Wait(), 0) << s->err;
    EXPECT_EQ(dir.Read("serial.txt"), "1006\n");
    std::set<uint32_t> numbers;
    for (const nlohmann::json& r : Records(dir.Read("line.jsonl"))) {
        const uint32_t n = r["serial"].get<uint32_t>();
        numbers.insert(n);
        // The radio holds it at 0x2000 of RAM, most significant byte first.
        const int radio = std::stoi(r["port"].get<std::string>().substr(Link(1).size() - 1));
        const nlohmann::json dump = nlohmann::json::parse(Dump(radio));
        std::string held;
        for (const nlohmann::json& m : dump["memories"])
            for (const nlohmann::json& b : m["blocks"])
                if (b["address"] == 0x802000)
                    held = b["data"].get<std::string>().substr(0, 8);
        char expected[16];
        std::snprintf(expected, sizeof expected, "%08x", n);
        EXPECT_EQ(held, expected) << "radio " << radio;
    }
    EXPECT_EQ(numbers, (std::set<uint32_t>{1000, 1001, 1002, 1003, 1004, 1005}));
}

// What does not go with several ports is refused before anything is sent.
TEST_F(MultiPortTest, RefusedCombinationsExitTwo) {
    const std::string img = ImageOf(64);
    const std::vector<std::vector<std::string>> cases = {
        {"--port", "a", "--port", "b", "boot"},
        {"--count", "3", "--port", "a", "load", "ram", img},
        {"--ports", "/dev/tty*", "--port", "a", "load", "ram", img},
        {"--port", "a", "--port", "a", "load", "ram", img},
        {"--port", "a", "--port", "b", "load", "ram", img, "--remember"},
        {"--port", "a", "load", "ram", img, "--serial", "0x2000"},
        {"--ports", dir.File("none*"), "load", "ram", img},
        {"--trace", "one.trace", "--port", "a", "--port", "b", "load", "ram", img},
    };
    for (const auto& args : cases) {
        auto zimp = Zimp(args);
        EXPECT_EQ(zimp->Wait(), 2) << args[0] << " " << args.back() << "\n" << zimp->err;
        EXPECT_EQ(Count(zimp->err, "\n"), 1u) << zimp->err;
    }
}

// Station mode: two ports, each with a radio plugged in and out twice. Every radio is loaded
// once, a radio left connected is not loaded again, and the run ends after --count radios.
TEST_F(MultiPortTest, StationLoadsEachRadioPluggedIn) {
    for (int i = 1; i <= 2; ++i) {
        radios.push_back(std::make_unique<Subprocess>(
            std::vector<std::string>{ZIMP_RADIO_SIM, "--link", Link(i), "--dump",
                                     dir.File("dump" + std::to_string(i) + "-{plug}.json")}));
        ASSERT_FALSE(radios.back()->WaitForLine("PTY ").empty());  // plugged in at start
    }
    std::vector<std::string> args = Ports(1, 2);
    args.insert(args.end(), {"--station", "--count", "4", "--report", dir.File("line.jsonl"),
                             "load", "ram", ImageOf(512)});
    auto zimp = Zimp(args);
    auto records = [&] { return Records(dir.Read("line.jsonl")).size(); };
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(zimp->WaitUntil([&] { return records() == 2u * round; })) << zimp->err;
        if (round == 2)
            break;  // the count is reached
        // Left connected, a radio is not loaded again.
        ASSERT_TRUE(
            zimp->WaitUntil([&] { return Count(zimp->err, "; remove the radio\n") == 2u; }));
        platform::SleepMs(1000);
        EXPECT_EQ(records(), 2u);
        // Pulled out and another plugged in at once: the station must tell the new radio from
        // the old one on the same path.
        for (auto& radio : radios) {
            radio->Signal(SIGUSR1);
            radio->Signal(SIGUSR2);
        }
    }
    EXPECT_EQ(zimp->Wait(), 0) << zimp->err;
    EXPECT_EQ(Count(zimp->out, " ok "), 4u) << zimp->out;
    for (const nlohmann::json& r : Records(dir.Read("line.jsonl")))
        EXPECT_EQ(r["outcome"], "ok");
    for (int i = 1; i <= 2; ++i) {
        radios[i - 1]->Signal(SIGUSR1);  // and out again
        radios[i - 1]->Signal(SIGTERM);
        radios[i - 1]->Wait();
        for (int plug = 1; plug <= 2; ++plug)
            EXPECT_NE(dir.Read("dump" + std::to_string(i) + "-" + std::to_string(plug) + ".json")
                          .find("\"markers\": [{\"request\""),
                      std::string::npos)
                << "radio " << i << ", plugged in " << plug;
    }
}

// Ctrl-C during a read-back ends it at the pending read, not after the whole image.
TEST_F(MultiPortTest, InterruptEndsAReadBackAtOnce) {
    StartRadios(1, 0);
    const std::string img = ImageOf(4096);  // 32 reads of 128 bytes
    ASSERT_EQ(Zimp({"--port", Link(1), "load", "ram", img})->Wait(), 0);
    const std::string loaded = Dump(1);
    dir.Write("loaded.json", loaded);
    // The same radio again, on a 1200-baud line: each read takes about a second.
    radios[0] = std::make_unique<Subprocess>(std::vector<std::string>{
        ZIMP_RADIO_SIM, "--link", Link(1), "--dump", dir.File("dump1.json"), "--baud", "1200",
        "--load", dir.File("loaded.json")});
    ASSERT_FALSE(radios[0]->WaitForLine("PTY ").empty()) << radios[0]->err;
    auto verify = Zimp({"--port", Link(1), "verify", "ram", img});
    platform::SleepMs(1500);
    verify->Signal(SIGINT);
    EXPECT_EQ(verify->Wait(), 130) << verify->err;
    const nlohmann::json dump = nlohmann::json::parse(Dump(1));
    size_t reads = 0;
    for (const nlohmann::json& r : dump["requests"])
        reads += r["name"] == "Read";
    EXPECT_GT(reads, 0u);
    EXPECT_LT(reads, 8u) << "the read-back went on after the interrupt";
}
