#include "memops/LoadCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "MemopsTestSupport.h"
#include "memops/Startup.h"
#include "platform/Clock.h"
#include "srecord/ImageReader.h"

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

// A load of memory type 0..4, with a user on a thread of its own while it runs.
struct LoadRun {
    explicit LoadRun(radio::ZimpRadioOptions options = {}, const std::string& ini = "")
        : rig(options, ini) {}
    LoadCommand::Outcome Load(int type, LoadRequest r) {
        r.memory = *MemoryOfType(type);
        std::thread u;
        if (user)
            u = std::thread(user);
        auto outcome = command.Run(r, &progress);
        if (u.joinable())
            u.join();
        return outcome;
    }
    RadioRig rig;
    zimptest::MessageCapture boxes;
    LoadCommand command{&rig.port, rig.profile.get()};
    RecordingProgress progress;
    std::function<void()> user;
};

LoadRequest File(const std::string& path) {
    LoadRequest r;
    r.file = path;
    return r;
}

srecord::ReadResult Parse(const std::string& path) {
    return srecord::ImageReader::Read(path);
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

TEST(LoadCommand, DefaultsComeFromTheConfigurationAndTheLastLoad) {
    LoadRun run;
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x10, Pattern(4)}}));
    LoadRequest p = File(file);
    p.bias = 0x2000;
    p.compress = true;
    p.fill = 0x12;
    ASSERT_EQ(run.Load(0, p), LoadCommand::Outcome::Loaded);
    const auto d = run.command.Defaults(Memory::Ram);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->memory, Memory::Ram);
    EXPECT_EQ(d->file, file) << "last file of the memory";
    EXPECT_EQ(d->bias, 0x2000u) << "the bias outlives one load";
    EXPECT_TRUE(d->compress) << "so does the compress flag";
    EXPECT_EQ(d->fill, 0xFF) << "the fill does not";
    EXPECT_EQ(d->checksum, ChecksumTable::None);
    EXPECT_EQ(d->alignment, 1u);
    EXPECT_EQ(run.command.Defaults(Memory::Flash)->file, "") << "each memory has its own file";
    // A load that does not ask to be remembered leaves the configuration as it was.
    auto other = run.rig.dir.Write("b.s19", SRecordFile({{0x10, Pattern(4)}}));
    LoadRequest quiet = File(other);
    quiet.remember = false;
    ASSERT_EQ(run.Load(0, quiet), LoadCommand::Outcome::Loaded);
    EXPECT_EQ(run.command.Defaults(Memory::Ram)->file, file);
}

TEST(LoadCommand, WireAddressCarriesMemoryCodeAndBias) {
    struct Case {
        int type;
        uint32_t bias;
        uint32_t wire;
    } cases[] = {{0, 0, 0x801000}, {1, 0, 0x401000},     {2, 0, 0x001000},   {3, 0, 0x001000},
                 {4, 0, 0x001000}, {0, 0x200, 0x801200}, {1, 0x10, 0x401010}};
    for (const auto& c : cases) {
        LoadRun run;
        auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1000, Pattern(8)}}));
        LoadRequest p = File(file);
        p.bias = c.bias;
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
    run.user = [&] {
        zimptest::WaitUntil([&] { return run.rig.radio.Requests().size() >= 2; });
        platform::SleepMs(50);
        run.command.Cancel();
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
    const srecord::ReadResult read = Parse(file);
    ASSERT_TRUE(read);
    zimp::ZimpEngine engine;
    ASSERT_TRUE(engine.Attach(&rig.port, false));
    uint32_t bad = 0;
    EXPECT_EQ(VerifyLoad(engine, *read.image, 1, 0, 0, 0xFF, bad), VerifyOutcome::Same);
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
    const srecord::ReadResult read = Parse(file);
    ASSERT_TRUE(read);
    zimp::ZimpEngine engine;
    ASSERT_TRUE(engine.Attach(&rig.port, false));
    std::thread user([&] {
        zimptest::WaitUntil([&] { return !rig.radio.Requests().empty(); });
        platform::SleepMs(50);
        rig.port.AbortAll();
    });
    uint32_t bad = 0;
    EXPECT_EQ(VerifyLoad(engine, *read.image, 1, 0, 0, 0xFF, bad), VerifyOutcome::Cancelled);
    user.join();
    engine.Detach();
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

// A cancelled transfer still starts and finishes its progress view once, and the next load
// is not cancelled by it.
TEST(LoadCommand, ACancelledLoadEndsItsProgressAndLeavesTheNextOneAlone) {
    radio::ZimpRadioOptions o;
    o.silentAfter = 1;
    LoadRun run(o);
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1000, Pattern(256)}}));
    run.user = [&] {
        zimptest::WaitUntil([&] { return run.rig.radio.Requests().size() >= 2; });
        platform::SleepMs(50);
        run.command.Cancel();
    };
    EXPECT_EQ(run.Load(1, File(file)), LoadCommand::Outcome::NotLoaded);
    EXPECT_EQ(run.progress.starts.load(), 1);
    EXPECT_EQ(run.progress.finishes.load(), 1);
    EXPECT_THAT(run.boxes.Texts(), ElementsAre("File was not loaded."));

    LoadRun again;
    again.command.Cancel();  // a cancel between loads is forgotten when the next one starts
    auto other = again.rig.dir.Write("a.s19", SRecordFile({{0x1000, Pattern(16)}}));
    EXPECT_EQ(again.Load(1, File(other)), LoadCommand::Outcome::Loaded);
    EXPECT_EQ(again.rig.radio.ReadMemory(0x401000, 16), Pattern(16));
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
        EXPECT_FALSE(run.command.Defaults(Memory::Flash));
        EXPECT_THAT(run.boxes.Texts(), ElementsAre("Transfer Block has to be more than 0."));
        // Run checks it again, when the image is open and the port prepared.
        run.boxes.Clear();
        auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1000, Pattern(16)}}));
        EXPECT_EQ(run.Load(1, File(file)), LoadCommand::Outcome::Refused);
        EXPECT_THAT(run.boxes.Texts(), ElementsAre("Transfer Block has to be more than 0."));
        EXPECT_TRUE(run.rig.radio.Requests().empty());
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
        LoadRequest p = File(file);
        p.checksum = ChecksumTable::AfterBlock;
        p.checksumBlock = 0;  // block 1 begins where block 0 ends: the table would cross it
        EXPECT_EQ(run.Load(1, p), LoadCommand::Outcome::Refused);
        ASSERT_FALSE(run.boxes.Texts().empty());
        EXPECT_EQ(run.boxes.Texts().back(), "Cannot add checksum.");
        EXPECT_TRUE(run.rig.radio.Requests().empty());
    }
    {
        LoadRun run;
        auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1000, Pattern(16)}}));
        LoadCommand noProfile(&run.rig.port, nullptr);
        EXPECT_EQ(noProfile.Run(File(file), nullptr), LoadCommand::Outcome::Refused);
        EXPECT_THAT(run.boxes.Texts(), ElementsAre("You have to set port and profile"));
        EXPECT_TRUE(run.rig.radio.Requests().empty());
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
    LoadRequest p = File(file);
    p.checksum = ChecksumTable::LastAddress;
    ASSERT_EQ(run.Load(1, p), LoadCommand::Outcome::Loaded);
    // One run: count 1, start 0x1000, length 2, sum 0x46, most significant byte first.
    EXPECT_EQ(run.rig.radio.ReadMemory(0x401002, 12),
              (Bytes{0, 1, 0, 0, 0x10, 0, 0, 0, 0, 2, 0, 0x46}));
}

TEST(LoadCommand, FillByteGovernsPadding) {
    LoadRun run;
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x1001, {0xAA}}}));
    LoadRequest p = File(file);
    p.alignment = 4;
    p.fill = 0x5A;
    ASSERT_EQ(run.Load(0, p), LoadCommand::Outcome::Loaded);
    EXPECT_EQ(run.rig.radio.ReadMemory(0x801000, 4), (Bytes{0x5A, 0xAA, 0x5A, 0x5A}));
}

TEST(LoadCommand, ProgressEndsCompleteAndEmptyImageShowsComplete) {
    LoadRun run;
    auto file = run.rig.dir.Write("a.s19", SRecordFile({{0x0, Pattern(1000)}}));
    ASSERT_EQ(run.Load(0, File(file)), LoadCommand::Outcome::Loaded);
    EXPECT_EQ(run.progress.title, "Load RAM Memory");
    EXPECT_EQ(run.progress.total.load(), 1000u);
    EXPECT_EQ(run.progress.lastDone.load(), 1000u);
    EXPECT_EQ(run.progress.finishes.load(), 1);
    EXPECT_EQ(ProgressPermille(0, 0), 1000u);
    EXPECT_EQ(ProgressPermille(1000, 2000), 500u);
}

// The memory's last file is read up to the system's path limit, and the load takes a name that
// long; a longer one is reported, never cut into another file's name.
TEST(LoadCommand, FileNamesTakeThePathLimit) {
    for (size_t length : {size_t(PATH_MAX - 1), size_t(PATH_MAX)}) {
        const std::string name(length, 'n');
        LoadRun run({}, "[LoadMemory]\nBlockSize=64\nFlash=" + name + "\n");
        const auto defaults = run.command.Defaults(Memory::Flash);
        ASSERT_TRUE(defaults);
        if (length < PATH_MAX) {
            EXPECT_EQ(defaults->file, name);
            EXPECT_TRUE(run.boxes.Texts().empty());
        } else {
            EXPECT_EQ(defaults->file, "");
            EXPECT_THAT(run.boxes.Texts(),
                        ElementsAre("The value of Flash in section [LoadMemory] is longer than " +
                                    std::to_string(PATH_MAX - 1) + " characters; it is not used."));
        }
        run.boxes.Clear();
        EXPECT_EQ(CheckLoadFileName(name), length < PATH_MAX);
        if (length == PATH_MAX) {
            EXPECT_THAT(
                run.boxes.Texts(),
                ElementsAre("Enter no more than " + std::to_string(PATH_MAX - 1) + " characters."));
        }
    }
}

TEST(LoadFields, HexFields) {
    zimptest::MessageCapture boxes;
    uint32_t v = 7;
    EXPECT_TRUE(ParseHexText("", v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(ParseHexText(" 0x1F00", v));
    EXPECT_EQ(v, 0x1F00u);
    EXPECT_TRUE(ParseHexText("123456789", v));
    EXPECT_EQ(v, 0xFFFFFFFFu) << "saturates";
    EXPECT_FALSE(ParseHexText("1G", v));
    EXPECT_FALSE(CheckHexField("1G"));
    EXPECT_TRUE(CheckHexField("FF"));
    EXPECT_THAT(boxes.Texts(), ElementsAre("The value must be in HEX format"));
}

TEST(LoadCommand, CompressedLoadDecompressesToTheImage) {
    radio::ZimpRadioOptions o;
    o.decompress = true;  // the radio stores what a real one would after decompressing
    LoadRun run(o, "[LoadMemory]\nBlockSize=512\n");
    Bytes image(3000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i % 13) * (i / 700 + 1));
    auto file = run.rig.dir.Write("c.s28", SRecordFile({{0x12000, image}}));
    LoadRequest p = File(file);
    p.compress = true;
    ASSERT_EQ(run.Load(0, p), LoadCommand::Outcome::Loaded);
    EXPECT_EQ(run.rig.radio.ReadMemory(0x812000, 3000), image);
    auto writes = Writes(run.rig.radio);
    ASSERT_EQ(writes.size(), 7u) << "six blocks of at most 512 raw bytes, then the marker";
    EXPECT_TRUE(run.boxes.Texts().empty());
}

// Verify reads back the same image the load sent, on one parse of the file: after a compressed
// load with a checksum table, a radio that stored what it was sent (decompressed) compares
// equal, table included; one that stored the compressed bytes does not.
TEST(LoadCommand, VerifyAfterACompressedLoadWithATableReadsTheSameImage) {
    Bytes image(3000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i % 13) * (i / 700 + 1));
    for (bool decompress : {true, false}) {
        SCOPED_TRACE(decompress);
        radio::ZimpRadioOptions o;
        o.decompress = decompress;
        LoadRun run(o, "[LoadMemory]\nBlockSize=512\n");
        auto file = run.rig.dir.Write("c.s28", SRecordFile({{0x12000, image}}));
        LoadRequest p = File(file);
        p.compress = true;
        p.checksum = ChecksumTable::LastAddress;
        p.verify = true;
        p.bias = 0x100;
        const auto outcome = run.Load(1, p);
        size_t reads = 0, readBytes = 0;
        for (const auto& r : run.rig.radio.Requests()) {
            if (r.opcode == 0xF511) {
                ++reads;
                readBytes += r.length;
            }
        }
        if (decompress) {
            EXPECT_EQ(outcome, LoadCommand::Outcome::Loaded);
            EXPECT_THAT(run.boxes.Texts(), IsEmpty());
            EXPECT_EQ(readBytes, image.size() + 12) << "the image and its table, read back";
            EXPECT_EQ(run.command.LoadedBytes(), image.size() + 12);
        } else {
            EXPECT_EQ(outcome, LoadCommand::Outcome::NotLoaded);
            EXPECT_THAT(run.boxes.Texts(),
                        ElementsAre(::testing::StartsWith("Verify failed at address 120"),
                                    "File was not loaded."));
            EXPECT_GT(reads, 0u);
        }
    }
}
