#include "memops/LoadCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "MemopsTestSupport.h"
#include "memops/Startup.h"
#include "platform/Clock.h"
#include "srecord/S_Record.h"

using namespace memops;

using namespace memopstest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr uint16_t kWriteDataOp = 0xFF17;

std::vector<radio::RequestRecord> Writes(const radio::ZimpRadio& r) {
    std::vector<radio::RequestRecord> w;
    for (const auto& rec : r.Requests())
        if (rec.opcode == kWriteDataOp)
            w.push_back(rec);
    return w;
}

Bytes Pattern(size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 7));
    return b;
}

struct LoadRun {
    explicit LoadRun(radio::ZimpRadioOptions options = {}, const std::string& ini = "")
        : rig(options, ini) {}
    LoadCommand::Outcome Load(int type, LoadParameters p) {
        FixedParameters fe(p);
        frontEnd = &fe;
        if (setUp)
            setUp(fe);
        auto outcome = command.Run(type, fe);
        frontEnd = nullptr;
        return outcome;
    }
    RadioRig rig;
    zimptest::MessageCapture boxes;
    LoadCommand command{&rig.port, rig.profile.get()};
    FixedParameters* frontEnd = nullptr;
    std::function<void(FixedParameters&)> setUp;
};

LoadParameters File(const std::string& path) {
    LoadParameters p;
    p.fileName = path;
    return p;
}

}  // namespace

TEST(LoadCommand, TenByteImageIsOneWriteThenTheEndMarker) {
    LoadRun run;
    ASSERT_TRUE(run.rig.ok);
    auto file = run.rig.dir.Write("ten.s19", SRecordFile({{0x1000, Pattern(10)}}));
    EXPECT_EQ(run.Load(1, File(file)), LoadCommand::Outcome::Loaded);
    auto writes = Writes(run.rig.radio);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].address, 0x401000u);
    EXPECT_EQ(writes[0].length, 10u);
    EXPECT_EQ(writes[1].address, 0xFFFFFFu);
    EXPECT_EQ(writes[1].length, 0u);
    EXPECT_EQ(run.rig.radio.Markers().size(), 1u);
    EXPECT_EQ(run.rig.radio.ReadMemory(0x401000, 10), Pattern(10));
    EXPECT_TRUE(run.boxes.Texts().empty());
    // The file is remembered for the memory.
    std::string ini = run.rig.dir.Read("ZIMPProtocol.ini");
    EXPECT_NE(ini.find("Flash=" + file), std::string::npos);
}

TEST(LoadCommand, ParametersDialogIsFilledFromConfigurationAndLoader) {
    LoadRun run;
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x10, Pattern(4)}}));
    LoadParameters p = File(file);
    p.biasText = "2000";
    run.Load(0, p);
    FixedParameters second(File(file));
    second.accept = false;
    EXPECT_EQ(run.command.Run(0, second), LoadCommand::Outcome::Cancelled);
    EXPECT_EQ(second.shown.title, "Load RAM Memory");
    EXPECT_EQ(second.shown.fileName, file) << "last file of the memory";
    EXPECT_EQ(second.shown.biasText, "2000") << "the bias outlives one load";
    EXPECT_EQ(second.shown.fillText, "FF");
    EXPECT_EQ(second.shown.addressText, "0");
    EXPECT_EQ(second.shown.alignment, 1);
}

TEST(LoadCommand, WireAddressCarriesMemoryCodeAndBias) {
    struct Case {
        int type;
        const char* bias;
        uint32_t wire;
    } cases[] = {{0, "", 0x801000}, {1, "", 0x401000},    {2, "", 0x001000},    {3, "", 0x001000},
                 {4, "", 0x001000}, {0, "200", 0x801200}, {1, "0x10", 0x401010}};
    for (const auto& c : cases) {
        LoadRun run;
        auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1000, Pattern(8)}}));
        LoadParameters p = File(file);
        p.biasText = c.bias;
        ASSERT_EQ(run.Load(c.type, p), LoadCommand::Outcome::Loaded) << c.type;
        auto writes = Writes(run.rig.radio);
        ASSERT_EQ(writes.size(), 2u);
        EXPECT_EQ(writes[0].address, c.wire) << c.type << " bias " << c.bias;
    }
}

TEST(LoadCommand, RetriesAfterNaksAndFailsAfterFour) {
    {
        radio::ZimpRadioOptions o;
        o.nakFirstWrites = 3;
        LoadRun run(o);
        auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1000, Pattern(8)}}));
        EXPECT_EQ(run.Load(1, File(file)), LoadCommand::Outcome::Loaded);
        EXPECT_TRUE(run.boxes.Texts().empty());
        EXPECT_EQ(run.rig.radio.ReadMemory(0x401000, 8), Pattern(8));
        // Each resend comes no sooner than 20 ms after the NAK went out (both on the radio's
        // clock; a lower bound, which a busy machine only makes later).
        const auto writes = Writes(run.rig.radio);
        ASSERT_EQ(writes.size(), 5u);
        for (size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            ASSERT_EQ(writes[i].answer, "nak");
            ASSERT_TRUE(writes[i].nakSentMs.has_value());
            EXPECT_GE(writes[i + 1].arrivedMs, *writes[i].nakSentMs + 20);
        }
        EXPECT_EQ(writes[3].answer, "ack");
        EXPECT_EQ(writes[3].address, 0x401000u);
    }
    {
        radio::ZimpRadioOptions o;
        o.nakFirstWrites = 4;
        LoadRun run(o);
        auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1000, Pattern(8)}}));
        EXPECT_EQ(run.Load(1, File(file)), LoadCommand::Outcome::NotLoaded);
        EXPECT_THAT(run.boxes.Texts(), ElementsAre("NAK is received", "File was not loaded."));
        EXPECT_TRUE(run.rig.radio.Markers().empty()) << "no end marker after a failure";
    }
}

TEST(LoadCommand, BadWriteResponseNamesItsAddress) {
    radio::ZimpRadioOptions o;
    o.badWriteAt = 0x000123;
    LoadRun run(o);
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x100, Pattern(64)}}));
    EXPECT_EQ(run.Load(2, File(file)), LoadCommand::Outcome::NotLoaded);
    EXPECT_THAT(run.boxes.Texts(),
                ElementsAre("Bad Write Response with address 123", "File was not loaded."));
}

TEST(LoadCommand, CancelDuringReplyWaitEndsAtOnceWithOneMessage) {
    radio::ZimpRadioOptions o;
    o.silentAfter = 1;  // the first block goes through, then the radio falls silent
    LoadRun run(o);
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1000, Pattern(256)}}));
    run.setUp = [&](FixedParameters& fe) {
        fe.progress.whileRunning = [&] {
            zimptest::WaitUntil([&] { return run.rig.radio.Requests().size() >= 2; });
            platform::SleepMs(50);
            fe.progress.cancelled = true;
            run.command.Cancel();
        };
    };
    EXPECT_EQ(run.Load(1, File(file)), LoadCommand::Outcome::NotLoaded);
    EXPECT_THAT(run.boxes.Texts(), ElementsAre("File was not loaded."));
}

// A NAK during the read-back is tried again, as the writes were.
TEST(LoadCommand, VerifyRetriesNakedReads) {
    radio::ZimpRadioOptions o;
    o.nakEvery = 2;
    RadioRig rig(o);
    rig.radio.Preload(0x100, Pattern(300));
    zimptest::MessageCapture boxes;
    auto file = rig.dir.Write("a.s19", SRecordFile({{0x100, Pattern(300)}}));
    srecord::S_Record image;
    ASSERT_EQ(image.Open(file.c_str(), 1), 0);
    zimp::ZimpEngine engine;
    ASSERT_TRUE(engine.Attach(&rig.port, false));
    uint32_t bad = 0;
    EXPECT_EQ(VerifyLoad(engine, image, 0, 0, 0xFF, bad), VerifyOutcome::Same);
    engine.Detach();
    EXPECT_GT(rig.radio.Stats().naks, 0u);
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

// Aborting the read-back ends it with no message: the reply was not at fault.
TEST(LoadCommand, VerifyAbortedDuringItsReadEndsSilently) {
    radio::ZimpRadioOptions o;
    o.silentAfter = 0;
    RadioRig rig(o);
    zimptest::MessageCapture boxes;
    auto file = rig.dir.Write("a.s19", SRecordFile({{0x100, Pattern(16)}}));
    srecord::S_Record image;
    ASSERT_EQ(image.Open(file.c_str(), 1), 0);
    zimp::ZimpEngine engine;
    ASSERT_TRUE(engine.Attach(&rig.port, false));
    std::thread user([&] {
        zimptest::WaitUntil([&] { return !rig.radio.Requests().empty(); });
        platform::SleepMs(50);
        rig.port.AbortAll();
    });
    uint32_t bad = 0;
    EXPECT_EQ(VerifyLoad(engine, image, 0, 0, 0xFF, bad), VerifyOutcome::Cancelled);
    user.join();
    engine.Detach();
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

// The progress window's Cancel reaches the loader's own cancel through the view's hook, which
// is set only while a transfer runs.
TEST(LoadCommand, ProgressViewCancelRunsTheLoadersCancel) {
    radio::ZimpRadioOptions o;
    o.silentAfter = 1;
    LoadRun run(o);
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1000, Pattern(256)}}));
    bool hookRan = false;
    run.setUp = [&](FixedParameters& fe) {
        fe.progress.whileRunning = [&] {
            zimptest::WaitUntil([&] { return run.rig.radio.Requests().size() >= 2; });
            platform::SleepMs(50);
            fe.progress.cancelled = true;
            hookRan = fe.progress.RequestCancel();
        };
    };
    EXPECT_EQ(run.Load(1, File(file)), LoadCommand::Outcome::NotLoaded);
    EXPECT_TRUE(hookRan);
    EXPECT_TRUE(run.command.Loader().Stopped());
    EXPECT_THAT(run.boxes.Texts(), ElementsAre("File was not loaded."));
    RecordingProgress idle;
    EXPECT_FALSE(idle.RequestCancel()) << "no transfer, no hook";
}

TEST(LoadCommand, QueueSizesFollowTheBlockSize) {
    for (auto [block, queue] : {std::pair{100u, 1024u}, {4096u, 8192u}}) {
        LoadRun run({}, "[LoadMemory]\nBlockSize=" + std::to_string(block) + "\n");
        auto file = run.rig.dir.Write("a.s19", SRecordFile({{0, Pattern(16)}}));
        ASSERT_EQ(run.Load(0, File(file)), LoadCommand::Outcome::Loaded);
        EXPECT_EQ(run.rig.port.InputQueueSize(), queue);
        EXPECT_EQ(run.rig.port.OutputQueueSize(), queue);
    }
}

TEST(LoadCommand, RefusalsComeBeforeAnythingIsSent) {
    {
        LoadRun run({}, "[LoadMemory]\nBlockSize=0\n");
        EXPECT_EQ(run.Load(1, File("x")), LoadCommand::Outcome::Refused);
        EXPECT_THAT(run.boxes.Texts(), ElementsAre("Transfer Block has to be more than 0."));
    }
    {
        LoadRun run;
        EXPECT_EQ(run.Load(1, File(run.rig.dir.File("missing.s19"))),
                  LoadCommand::Outcome::Refused);
        EXPECT_THAT(run.boxes.Texts(),
                    ElementsAre("Cannot open S Record file - " + run.rig.dir.File("missing.s19")));
    }
    {
        LoadRun run;
        // Out of file order, so that they stay two blocks: 0x1000-0x100F, 0x1010-0x101F.
        auto file =
            run.rig.dir.Write("a.s19", SRecordFile({{0x1010, Pattern(16)}, {0x1000, Pattern(16)}}));
        LoadParameters p = File(file);
        p.checksumMode = LoadParameters::kBlock;
        p.blockIndex = 0;  // block 1 begins where block 0 ends: the table would cross it
        EXPECT_EQ(run.Load(1, p), LoadCommand::Outcome::Refused);
        ASSERT_FALSE(run.boxes.Texts().empty());
        EXPECT_EQ(run.boxes.Texts().back(), "Cannot add checksum.");
        EXPECT_TRUE(run.rig.radio.Requests().empty());
    }
    {
        LoadRun run;
        LoadCommand noProfile(&run.rig.port, nullptr);
        FixedParameters fe(File("x"));
        EXPECT_EQ(noProfile.Run(1, fe), LoadCommand::Outcome::Refused);
    }
}

// A configuration without BlockSize loads in blocks of the documented default; an Echo that is
// no number is reported and nothing is sent.
TEST(LoadCommand, MissingBlockSizeIsTheDefaultAndARefusedEchoSendsNothing) {
    std::vector<std::pair<uint32_t, Bytes>> records;
    for (uint32_t r = 0; r < 10; ++r)
        records.push_back({0x1000 + r * 200, Pattern(200, static_cast<uint8_t>(r))});
    {
        LoadRun run({}, "[configuration]\nEcho=0\n");
        auto file = run.rig.dir.Write("a.s19", SRecordFile(records));
        ASSERT_EQ(run.Load(0, File(file)), LoadCommand::Outcome::Loaded);
        auto writes = Writes(run.rig.radio);
        ASSERT_EQ(writes.size(), 3u);
        EXPECT_EQ(writes[0].length, kDefaultBlockSize);
        EXPECT_EQ(writes[1].length, 2000 - kDefaultBlockSize);
        EXPECT_TRUE(run.boxes.Texts().empty());
    }
    {
        LoadRun run({}, "[configuration]\nEcho=yes\n[LoadMemory]\nBlockSize=64\n");
        auto file = run.rig.dir.Write("a.s19", SRecordFile(records));
        EXPECT_EQ(run.Load(0, File(file)), LoadCommand::Outcome::Refused);
        EXPECT_THAT(run.boxes.Texts(),
                    ElementsAre("The value \"yes\" of Echo in section [configuration] is not a "
                                "number."));
        EXPECT_TRUE(run.rig.radio.Requests().empty());
    }
}

TEST(LoadCommand, ChecksumTableIsLoadedAfterTheImage) {
    LoadRun run;
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1000, {0x12, 0x34}}}));
    LoadParameters p = File(file);
    p.checksumMode = LoadParameters::kLastAddress;
    ASSERT_EQ(run.Load(1, p), LoadCommand::Outcome::Loaded);
    // One run: count 1, start 0x1000, length 2, sum 0x46, most significant byte first.
    EXPECT_EQ(run.rig.radio.ReadMemory(0x401002, 12),
              (Bytes{0, 1, 0, 0, 0x10, 0, 0, 0, 0, 2, 0, 0x46}));
}

TEST(LoadCommand, FillByteGovernsPadding) {
    LoadRun run;
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1001, {0xAA}}}));
    LoadParameters p = File(file);
    p.alignment = 4;
    p.fillText = "5A";
    ASSERT_EQ(run.Load(0, p), LoadCommand::Outcome::Loaded);
    EXPECT_EQ(run.rig.radio.ReadMemory(0x801000, 4), (Bytes{0x5A, 0xAA, 0x5A, 0x5A}));
}

TEST(LoadCommand, ProgressEndsCompleteAndEmptyImageShowsComplete) {
    LoadRun run;
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x0, Pattern(1000)}}));
    FixedParameters fe(File(file));
    ASSERT_EQ(run.command.Run(0, fe), LoadCommand::Outcome::Loaded);
    EXPECT_EQ(fe.progress.title, "Load RAM Memory");
    EXPECT_EQ(fe.progress.total.load(), 1000u);
    EXPECT_EQ(fe.progress.lastDone.load(), 1000u);
    EXPECT_GE(fe.progress.closes.load(), 1);
    EXPECT_EQ(ProgressPermille(0, 0), 1000u);
    EXPECT_EQ(ProgressPermille(1000, 2000), 500u);
}

// The memory's last file is read up to the system's path limit, and the load takes a name that
// long; a longer one is reported, never cut into another file's name.
TEST(LoadCommand, FileNamesTakeThePathLimit) {
    for (size_t length : {size_t(PATH_MAX - 1), size_t(PATH_MAX)}) {
        const std::string name(length, 'n');
        LoadRun run({}, "[LoadMemory]\nBlockSize=64\nFlash=" + name + "\n");
        FixedParameters fe(File("x"));
        fe.accept = false;
        EXPECT_EQ(run.command.Run(1, fe), LoadCommand::Outcome::Cancelled);
        if (length < PATH_MAX) {
            EXPECT_EQ(fe.shown.fileName, name);
            EXPECT_TRUE(run.boxes.Texts().empty());
        } else {
            EXPECT_EQ(fe.shown.fileName, "");
            EXPECT_THAT(run.boxes.Texts(),
                        ElementsAre("The value of Flash in section [LoadMemory] is longer than " +
                                    std::to_string(PATH_MAX - 1) + " characters; it is not used."));
        }
        run.boxes.Clear();
        LoadParameters p = File(name);
        EXPECT_EQ(ValidateLoadParameters(p), length < PATH_MAX);
        if (length == PATH_MAX) {
            EXPECT_THAT(
                run.boxes.Texts(),
                ElementsAre("Enter no more than " + std::to_string(PATH_MAX - 1) + " characters."));
        }
    }
}

TEST(LoadParameters, HexFieldsAndRanges) {
    zimptest::MessageCapture boxes;
    uint32_t v = 7;
    EXPECT_TRUE(ParseHexText("", v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(ParseHexText(" 0x1F00", v));
    EXPECT_EQ(v, 0x1F00u);
    EXPECT_TRUE(ParseHexText("123456789", v));
    EXPECT_EQ(v, 0xFFFFFFFFu) << "saturates";
    EXPECT_FALSE(ParseHexText("1G", v));
    LoadParameters p;
    p.fillText = "1G";
    EXPECT_FALSE(ValidateLoadParameters(p));
    p.fillText = "FF";
    p.blockIndex = 100001;
    EXPECT_FALSE(ValidateLoadParameters(p));
    p.blockIndex = 0;
    EXPECT_TRUE(ValidateLoadParameters(p));
    EXPECT_THAT(boxes.Texts(), ElementsAre("The value must be in HEX format",
                                           "Please enter an integer between 0 and 100000."));
}

TEST(LoadCommand, CompressedLoadDecompressesToTheImage) {
    radio::ZimpRadioOptions o;
    o.decompress = true;  // the radio stores what a real one would after decompressing
    LoadRun run(o, "[LoadMemory]\nBlockSize=512\n");
    Bytes image(3000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i % 13) * (i / 700 + 1));
    auto file = run.rig.dir.Write("c.s28", SRecordFile({{0x12000, image}}));
    LoadParameters p = File(file);
    p.compress = true;
    ASSERT_EQ(run.Load(0, p), LoadCommand::Outcome::Loaded);
    EXPECT_EQ(run.rig.radio.ReadMemory(0x812000, 3000), image);
    auto writes = Writes(run.rig.radio);
    ASSERT_EQ(writes.size(), 7u) << "six blocks of at most 512 raw bytes, then the marker";
    EXPECT_TRUE(run.boxes.Texts().empty());
}
