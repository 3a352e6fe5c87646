#include "memops/BootLoad.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

#include "MemopsTestSupport.h"
#include "memops/ManualZimp.h"
#include "memops/TqvBootLoad.h"
#include "sim/radio/BootRadio.h"
#include "sim/radio/TqvRadio.h"
#include "srecord/ImageReader.h"

using namespace memops;

using namespace serial;

using namespace streams;

using namespace srecord;

using namespace memopstest;
using ::testing::ElementsAre;

namespace {

// A port opened at 115200 against a radio mode running on its own thread; the radio answers
// as a line at lineBaud would (0: at once).
template <class Mode, uint32_t lineBaud = 0>
struct ModeRig {
    template <class... Args>
    explicit ModeRig(Args&&... args) : mode(std::forward<Args>(args)...) {
        if (!pty.Open(true))
            return;
        simulator = std::make_unique<radio::RadioSimulator>(pty.MasterFd(), mode, lineBaud);
        thread = std::thread([this] { simulator->Run(); });
        ok = port.Open(pty.SlavePath(), 115200);
    }
    ~ModeRig() {
        port.Close();
        if (simulator) {
            simulator->Stop();
            thread.join();
        }
    }
    TempDir dir;
    platform::PseudoTerminal pty;
    Mode mode;
    std::unique_ptr<radio::RadioSimulator> simulator;
    std::thread thread;
    SerialPort port;
    zimptest::MessageCapture boxes;
    bool ok = false;
};

BootLoadSettings Boot(const std::string& file, long rate = 19200) {
    BootLoadSettings s;
    s.fileName = file;
    s.rate = rate;
    return s;
}

}  // namespace

TEST(BootLoad, MatchingEchoWritesNothingAndRestoresRate) {
    ModeRig<radio::BootRadio> rig;
    ASSERT_TRUE(rig.ok);
    auto file = rig.dir.Write("p.s19", SRecordFile({{0x1000, {1, 2, 3}}}));
    BootLoad boot(&rig.port);
    EXPECT_EQ(boot.Run(Boot(file)), BootOutcome::Loaded);
    EXPECT_TRUE(rig.boxes.Texts().empty());
    EXPECT_EQ(boot.EchoCount(), 3u);
    EXPECT_EQ(rig.mode.Program(), (Bytes{1, 2, 3}));
    EXPECT_EQ(rig.port.EffectiveRate(), 115200u) << "the rate before the load";
}

TEST(BootLoad, WrongEchoNamesThePosition) {
    radio::BootRadioOptions o;
    o.corruptAt = 1;  // 02 comes back as 07
    ModeRig<radio::BootRadio> rig(o);
    auto file = rig.dir.Write("p.s19", SRecordFile({{0x1000, {1, 2, 3}}}));
    BootLoad boot(&rig.port);
    EXPECT_EQ(boot.Run(Boot(file)), BootOutcome::Failed);
    EXPECT_THAT(rig.boxes.Texts(),
                ElementsAre("Error at position 1.\rIf position more than 100 don't take care."));
}

TEST(BootLoad, ShortEchoIsComparedAsFarAsItGoes) {
    radio::BootRadioOptions o;
    o.echoLimit = 2;
    ModeRig<radio::BootRadio> rig(o);
    auto file = rig.dir.Write("p.s19", SRecordFile({{0x1000, {1, 2, 3}}}));
    BootLoad boot(&rig.port);
    EXPECT_EQ(boot.Run(Boot(file, 115200)), BootOutcome::Failed) << "a short echo is a failed load";
    EXPECT_EQ(boot.EchoCount(), 2u);
    EXPECT_THAT(rig.boxes.Texts(), ElementsAre("Echo stopped after 2 of 3 bytes."));
}

TEST(BootLoad, FullProgramAtALowRateIsEchoedAndComparedInFull) {
    // The radio answers at the pace of a 9,600-baud line: 2,000 bytes take about 2 s.
    radio::BootRadioOptions o;
    o.corruptAt = 1999;
    ModeRig<radio::BootRadio, 9600> rig(o);
    Bytes program(2000);
    for (size_t i = 0; i < program.size(); ++i)
        program[i] = static_cast<uint8_t>(i * 7 + 1);
    auto file = rig.dir.Write("p.s19", SRecordFile({{0x0, program}}));
    BootLoad boot(&rig.port);
    EXPECT_EQ(boot.Run(Boot(file, 9600)), BootOutcome::Failed);
    EXPECT_EQ(boot.EchoCount(), 2000u);
    // Only the last byte differs, so the comparison reached it.
    EXPECT_THAT(rig.boxes.Texts(), ElementsAre("Error at position 1999.\rIf position more than "
                                               "100 don't take care."));
    EXPECT_EQ(rig.mode.Program(), program);
}

TEST(BootLoad, NoEchoAtAll) {
    radio::BootRadioOptions o;
    o.echoLimit = 0;
    ModeRig<radio::BootRadio> rig(o);
    auto file = rig.dir.Write("p.s19", SRecordFile({{0x1000, {1, 2, 3}}}));
    BootLoad boot(&rig.port);
    EXPECT_EQ(boot.Run(Boot(file, 115200)), BootOutcome::Failed);
    EXPECT_THAT(rig.boxes.Texts(), ElementsAre("There is not echo from radio"));
}

TEST(BootLoad, OnlyTheFirst2000BytesAreSent) {
    // Exactly 2000 bytes (with a gap, filled with 0) still go; one more is refused unsent.
    struct Case {
        uint32_t secondAt;
        BootOutcome outcome;
    };
    for (const Case c : {Case{1996, BootOutcome::Loaded}, Case{1997, BootOutcome::NotSent}}) {
        ModeRig<radio::BootRadio> rig;
        Bytes tail{0xA1, 0xA2, 0xA3, 0xA4};
        auto file =
            rig.dir.Write("p.s19", SRecordFile({{0x100, {1, 2}}, {0x100 + c.secondAt, tail}}));
        BootLoad boot(&rig.port);
        EXPECT_EQ(boot.Run(Boot(file, 115200)), c.outcome) << c.secondAt;
        if (c.outcome == BootOutcome::Loaded) {
            EXPECT_EQ(boot.ProgramLength(), 2000u);
            EXPECT_TRUE(rig.boxes.Texts().empty());
            zimptest::WaitUntil([&] { return rig.mode.Program().size() >= 2000; });
            Bytes expected(2000, 0);
            expected[0] = 1;
            expected[1] = 2;
            std::copy(tail.begin(), tail.end(), expected.begin() + 1996);
            EXPECT_EQ(rig.mode.Program(), expected);
        } else {
            EXPECT_EQ(boot.ProgramLength(), 0u);
            EXPECT_THAT(rig.boxes.Texts(),
                        ElementsAre("Boot program '" + file +
                                    "' is 2001 bytes long; the limit is 2000 bytes."));
            platform::SleepMs(50);  // what the radio would have seen by now
            EXPECT_FALSE(rig.mode.Started()) << "not even the 0xFF went out";
            EXPECT_EQ(rig.port.EffectiveRate(), 115200u);
        }
    }
}

TEST(BootLoad, CancelDuringTheReadAndABadFile) {
    {
        radio::BootRadioOptions o;
        o.echoLimit = 0;
        ModeRig<radio::BootRadio> rig(o);
        Bytes big(2000, 0x11);
        auto file = rig.dir.Write("p.s19", SRecordFile({{0x0, big}}));
        BootLoad boot(&rig.port);
        // At 50 baud the echo of 2,000 bytes is awaited for 800 s: only Cancel ends it.
        std::thread canceller([&] {
            zimptest::WaitUntil([&] { return boot.Busy() && rig.mode.Started(); });
            platform::SleepMs(50);
            boot.Cancel();
        });
        EXPECT_EQ(boot.Run(Boot(file, 50)), BootOutcome::Cancelled);
        canceller.join();
        EXPECT_THAT(rig.boxes.Texts(), ElementsAre("Loading was aborted by User"));
        EXPECT_EQ(rig.port.EffectiveRate(), 115200u);
    }
    {
        ModeRig<radio::BootRadio> rig;
        auto file = rig.dir.Write("bad.s19", "S1 this is not a record\n");
        BootLoad boot(&rig.port);
        EXPECT_EQ(boot.Run(Boot(file)), BootOutcome::NotSent);
        EXPECT_THAT(rig.boxes.Texts(), ElementsAre("Cannot download program from file '" + file +
                                                   "'\rThere is not echo from radio"));
        EXPECT_FALSE(rig.mode.Started()) << "nothing sent";
    }
}

TEST(BootLoad, ClosedPortReportsNoEcho) {
    TempDir dir;
    zimptest::MessageCapture boxes;
    SerialPort port;
    BootLoad boot(&port);
    EXPECT_EQ(boot.Run(Boot(dir.Write("p.s19", SRecordFile({{0, {1}}})))), BootOutcome::Failed);
    EXPECT_THAT(boxes.Texts(), ElementsAre("There is not echo from radio"));
}

TEST(BootLoad, SettingsAndTheirChecks) {
    TempDir dir;
    Configuration ps(dir.Write("z.ini", "[BootLoad]\nFile=prog.s19\nBaudrate=9600\n"));
    BootLoadSettings s;
    ReadBootLoadSettings(ps, s);
    EXPECT_EQ(s.fileName, "prog.s19");
    EXPECT_EQ(s.rate, 9600);
    zimptest::MessageCapture boxes;
    EXPECT_TRUE(ValidateBootLoadSettings(s));
    s.rate = 49;
    EXPECT_FALSE(ValidateBootLoadSettings(s));
    s.rate = 50;
    s.fileName.clear();
    EXPECT_FALSE(ValidateBootLoadSettings(s));
    // A file name may be as long as the system's paths, in the configuration and the check.
    const std::string tooLong = "The value must have at least 1 character, but no more than " +
                                std::to_string(PATH_MAX - 1);
    s.fileName.assign(PATH_MAX - 1, 'p');
    EXPECT_TRUE(ValidateBootLoadSettings(s));
    s.fileName += 'p';
    EXPECT_FALSE(ValidateBootLoadSettings(s));
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("Please enter an integer between 50 and 115200.", tooLong, tooLong));
    boxes.Clear();
    for (size_t length : {size_t(PATH_MAX - 1), size_t(PATH_MAX)}) {
        Configuration again(dir.Write("z.ini", "[BootLoad]\nFile=" + std::string(length, 'f')));
        BootLoadSettings read;
        read.fileName = "before.s19";
        ReadBootLoadSettings(again, read);
        EXPECT_EQ(read.fileName, length < PATH_MAX ? std::string(length, 'f') : "before.s19");
    }
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("The value of File in section [BootLoad] is longer "
                            "than " +
                            std::to_string(PATH_MAX - 1) + " characters; it is not used."));
}

namespace {
TqvSettings Tqv(const std::string& file) {
    TqvSettings s;
    s.file = file;
    s.disablePatch = 1;
    s.headerRate = 115200;
    s.dataRate = 115200;
    return s;
}
}  // namespace

TEST(TqvBootLoad, BlockLayoutAndChecksum) {
    TempDir dir;
    const ReadResult read =
        ImageReader::Read(dir.Write("p.s19", SRecordFile({{0x1000, {1, 2, 3}}})));
    ASSERT_TRUE(read);
    EXPECT_EQ(BuildTqvBlock(*read.image, 2),
              (Bytes{0x55, 0x55, 0x55, 0xAA, 0, 0, 0x10, 0, 0, 3, 0, 2, 1, 2, 3, 0xE4}));
}

TEST(TqvBootLoad, SpanAbove65535SendsAllBytesWithLow16InTheLength) {
    TempDir dir;
    auto file = dir.Write("p.s19", SRecordFile({{0x0, {0xAB}}, {0x10010, {0xCD}}}));
    const ReadResult read = ImageReader::Read(file);
    ASSERT_TRUE(read);
    Bytes block = BuildTqvBlock(*read.image, 0);
    ASSERT_EQ(block.size(), 13u + 0x10011u);
    EXPECT_EQ(block[8], 0x00);
    EXPECT_EQ(block[9], 0x11);
    EXPECT_EQ(block[12], 0xAB);
    EXPECT_EQ(block[12 + 0x10010], 0xCD);
}

TEST(TqvBootLoad, AmbrelWithoutPatchSendsOneBlock) {
    ModeRig<radio::TqvRadio> rig;
    auto file = rig.dir.Write("p.s19", SRecordFile({{0x1000, {1, 2, 3}}}));
    TqvBootLoad tqv(&rig.port);
    TqvSettings s = Tqv(file);
    s.factor = 2;
    EXPECT_EQ(tqv.Run(s), BootOutcome::Loaded);
    EXPECT_TRUE(rig.boxes.Texts().empty());
    auto blocks = rig.mode.Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].address, 0x1000u);
    EXPECT_EQ(blocks[0].factor, 2);
    EXPECT_TRUE(blocks[0].checksumOk);
    EXPECT_EQ(blocks[0].data, (Bytes{1, 2, 3}));
    EXPECT_EQ(rig.mode.Handshakes(), 0u);
    EXPECT_EQ(rig.port.EffectiveRate(), 115200u);
}

TEST(TqvBootLoad, PatchThenProgramAndAnEchoingRadio) {
    radio::TqvRadioOptions o;
    o.echo = true;
    ModeRig<radio::TqvRadio> rig(o);
    TqvSettings s = Tqv(rig.dir.Write("p.s19", SRecordFile({{0x2000, {9, 8, 7, 6}}})));
    s.disablePatch = 0;
    s.patchFile = rig.dir.Write("patch.s19", SRecordFile({{0x100, {5}}}));
    TqvBootLoad tqv(&rig.port);
    EXPECT_EQ(tqv.Run(s), BootOutcome::Loaded);
    EXPECT_TRUE(rig.boxes.Texts().empty());
    auto blocks = rig.mode.Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].address, 0x100u);
    EXPECT_EQ(blocks[1].address, 0x2000u);
}

TEST(TqvBootLoad, WrongAcknowledgementStopsBeforeTheProgram) {
    radio::TqvRadioOptions o;
    o.ack = 0x4E;
    ModeRig<radio::TqvRadio> rig(o);
    TqvSettings s = Tqv(rig.dir.Write("p.s19", SRecordFile({{0x2000, {1}}})));
    s.disablePatch = 0;
    s.patchFile = rig.dir.Write("patch.s19", SRecordFile({{0x100, {5}}}));
    TqvBootLoad tqv(&rig.port);
    EXPECT_EQ(tqv.Run(s), BootOutcome::Failed);
    EXPECT_THAT(rig.boxes.Texts(), ElementsAre("The received (4E) acknowladge is wrong."));
    EXPECT_EQ(rig.mode.Blocks().size(), 1u) << "the program block is not sent";
}

TEST(TqvBootLoad, VintrelHandshake) {
    {
        radio::TqvRadioOptions o;
        o.vintrel = true;
        ModeRig<radio::TqvRadio> rig(o);
        TqvSettings s = Tqv(rig.dir.Write("p.s19", SRecordFile({{0x2000, {1}}})));
        s.processorType = 1;
        TqvBootLoad tqv(&rig.port);
        EXPECT_EQ(tqv.Run(s), BootOutcome::Loaded);
        // "aA" is repeated while no "Z" has come back within its short wait: on a loaded
        // machine the radio's answer may take more than one round.
        EXPECT_GE(rig.mode.Handshakes(), 1u);
        EXPECT_EQ(rig.mode.Blocks().size(), 1u);
    }
    {
        ModeRig<radio::TqvRadio> rig;  // an Ambrel part never answers "Z"
        TqvSettings s = Tqv(rig.dir.Write("p.s19", SRecordFile({{0x2000, {1}}})));
        s.processorType = 1;
        TqvBootLoad tqv(&rig.port);
        EXPECT_EQ(tqv.Run(s), BootOutcome::Failed);
        EXPECT_THAT(rig.boxes.Texts(), ElementsAre("Can not receive the baudrate acknowladge."));
        EXPECT_TRUE(rig.mode.Blocks().empty());
    }
}

TEST(TqvBootLoad, SilentRadioAndBadFile) {
    radio::BootRadioOptions o;
    o.echoLimit = 0;
    ModeRig<radio::BootRadio> rig(o);  // takes the bytes, answers nothing
    TqvBootLoad tqv(&rig.port);
    EXPECT_EQ(tqv.Run(Tqv(rig.dir.Write("p.s19", SRecordFile({{0x2000, {1}}})))),
              BootOutcome::Failed);
    EXPECT_THAT(rig.boxes.Texts(), ElementsAre("Acknowladge of loading was not received."));
    rig.boxes.Clear();
    EXPECT_EQ(tqv.Run(Tqv(rig.dir.File("missing.s19"))), BootOutcome::Failed);
    ASSERT_EQ(rig.boxes.Texts().size(), 1u);
    EXPECT_EQ(rig.boxes.Texts()[0].rfind("Error in line ", 0), 0u);
}

TEST(TqvBootLoad, SettingsRoundTripAndFileNamesTakeThePathLimit) {
    TempDir dir;
    auto ini = dir.Write("z.ini", "[TqvBootLoad]\nBaudRate=38400\n");
    TqvSettings s;
    {
        Configuration ps(ini);
        ReadTqvSettings(ps, s);
        EXPECT_EQ(s.headerRate, 38400);
        EXPECT_EQ(s.dataRate, 19200);
        s.file = "/" + std::string(69, 'f');
        s.factor = 12;
        WriteTqvSettings(ps, s);
    }
    Configuration again(ini);
    TqvSettings back;
    ReadTqvSettings(again, back);
    EXPECT_EQ(back.file, "/" + std::string(69, 'f'));
    EXPECT_EQ(back.factor, 12u);
    EXPECT_EQ(dir.Read("z.ini"),
              "[TqvBootLoad]\nBaudRate=38400\nFile=/" + std::string(69, 'f') +
                  "\nDisablePatch=0\nProcessorType=0\nDataBaudRate=19200\nTQVFactor=12\n");
    zimptest::MessageCapture boxes;
    back.dataRate = 460801;
    EXPECT_FALSE(ValidateTqvSettings(back));
    EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter an integer between 300 and 460800."));
    boxes.Clear();
    for (size_t length : {size_t(PATH_MAX - 1), size_t(PATH_MAX)}) {
        Configuration withLong(
            dir.Write("z.ini", "[TqvBootLoad]\nFile=" + std::string(length, 'f') +
                                   "\nPatchFile=" + std::string(length, 'p')));
        TqvSettings read;
        ReadTqvSettings(withLong, read);
        EXPECT_EQ(read.file, length < PATH_MAX ? std::string(length, 'f') : "");
        EXPECT_EQ(read.patchFile, length < PATH_MAX ? std::string(length, 'p') : "");
    }
    const std::string past = " in section [TqvBootLoad] is longer than " +
                             std::to_string(PATH_MAX - 1) + " characters; it is not used.";
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("The value of File" + past, "The value of PatchFile" + past));
}

namespace {
struct Reply : ManualZimpView {
    std::string text;
    void AppendReply(const std::string& t) override { text += t; }
};
}  // namespace

TEST(ManualZimp, CommandChecksAndChecksum) {
    ModeRig<radio::BootRadio> rig;  // not started: records nothing, answers nothing
    Reply reply;
    PostedMessages messages;
    ManualZimp manual(&rig.port, reply, messages);
    ASSERT_TRUE(manual.Open());
    EXPECT_TRUE(manual.Send(" F113 ", true));
    EXPECT_EQ(manual.CommandText(), "F113");
    EXPECT_EQ(manual.LastSent(), (Bytes{0xF1, 0x13, 0xFB}));
    EXPECT_FALSE(manual.Send("f1 13", true));  // five characters: the count is checked first
    EXPECT_FALSE(manual.Send("F1 3", true));
    EXPECT_FALSE(manual.Send("F1130", true));
    EXPECT_FALSE(manual.Send(std::string(256, 'A'), true));
    EXPECT_TRUE(manual.Send("", true));
    EXPECT_EQ(manual.LastSent(), (Bytes{0xFF}));
    EXPECT_TRUE(manual.Send("", false));
    EXPECT_TRUE(manual.LastSent().empty());
    EXPECT_EQ(reply.text, "\r\n>\r\n>\r\n>");
    EXPECT_THAT(rig.boxes.Texts(), ElementsAre("The number of caracters must be even",
                                               "Characters must be in hex format( 0-9, a-f)",
                                               "The number of caracters must be even",
                                               "Number of caracters must be less than 255"));
    manual.Close();
}

TEST(ManualZimp, ShowsEveryByteThatArrives) {
    ModeRig<radio::BootRadio> rig;  // after FF it echoes: a stand-in for any answering radio
    Reply reply;
    PostedMessages messages;
    ManualZimp manual(&rig.port, reply, messages);
    ASSERT_TRUE(manual.Open());
    ASSERT_TRUE(manual.Send("FF0A0B", false));
    while (reply.text.size() < std::string("\r\n>0a0b").size()) {
        PostedMessages::Message m;
        ASSERT_TRUE(messages.Take(m, 5000));
        EXPECT_EQ(m.message, ManualZimp::kEventMessage);
        manual.OnEvent(static_cast<int32_t>(m.wParam));
    }
    EXPECT_EQ(reply.text, "\r\n>0a0b");
    manual.Close();
    // Completions still queued are dropped: none starts a new wait, so the worker goes idle.
    PostedMessages::Message m;
    while (messages.Take(m, 200))
        manual.OnEvent(static_cast<int32_t>(m.wParam));
    EXPECT_TRUE(rig.port.WaitWorkerIdle(PortWorkerKind::Event, 5000));
}

TEST(ManualZimp, NoPort) {
    zimptest::MessageCapture boxes;
    Reply reply;
    PostedMessages messages;
    ManualZimp manual(nullptr, reply, messages);
    EXPECT_FALSE(manual.Open());
    EXPECT_THAT(boxes.Texts(), ElementsAre("You have to set port"));
}
