#include "memops/SaveCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "MemopsTestSupport.h"
#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"

using namespace memops;

using namespace srecord;

using namespace memopstest;
using ::testing::ElementsAre;

namespace {

constexpr uint16_t kReadOp = 0xF511;

std::vector<radio::RequestRecord> Reads(const radio::ZimpRadio& r) {
    std::vector<radio::RequestRecord> out;
    for (const auto& rec : r.Requests())
        if (rec.opcode == kReadOp)
            out.push_back(rec);
    return out;
}

struct Recorder : SaveFrontEnd {
    std::vector<std::string> addresses;
    void ShowAddress(const std::string& t) override { addresses.push_back(t); }
};

// Lines of an S-Record file written by the save, without the CR.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out.push_back(line);
        pos = nl == std::string::npos ? text.size() : nl + 1;
    }
    return out;
}

}  // namespace

TEST(SaveCommand, ReadsRangeWithMemoryCodeAndWritesRecords) {
    RadioRig rig({}, "[SaveRAM]\nType=S1\nRange1=0x0,0x3FF\n");
    ASSERT_TRUE(rig.ok);
    Bytes data(0x400);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    rig.radio.Preload(0x800000, data);
    zimptest::MessageCapture boxes;
    SaveCommand save(&rig.port, rig.profile.get());
    ASSERT_TRUE(save.Prepare(Memory::Ram));
    EXPECT_EQ(save.Title(), "Save RAM");
    Recorder fe;
    auto out = rig.dir.File("ram.s19");
    ASSERT_EQ(save.Save(out, &fe), SaveOutcome::Saved);
    save.Close();
    auto reads = Reads(rig.radio);
    ASSERT_EQ(reads.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(reads[i].address, 0x800000u + 0x80 * i);
        EXPECT_EQ(reads[i].length, 128u);
    }
    auto lines = Lines(rig.dir.Read("ram.s19"));
    ASSERT_EQ(lines.size(), 1u + 32u + 1u);
    EXPECT_EQ(lines[1].substr(0, 8), "S1230000");
    EXPECT_EQ(lines[32].substr(0, 8), "S12303E0");
    EXPECT_EQ(lines.back(), "S9030000FC");
    const ReadResult read = ImageReader::Read(out);
    ASSERT_TRUE(read);
    EXPECT_EQ(std::string(read.image->Header()), "Saved from radio");
    ChunkReader back(*read.image);
    Bytes got(0x400);
    ASSERT_EQ(back.ReadChunk(got.data(), 0x400, 0xFF), 0x400);
    EXPECT_EQ(got, data);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_NE(rig.dir.Read("ZIMPProtocol.ini").find("File=" + out), std::string::npos);
}

TEST(SaveCommand, FlashRangeStartsAtFlashCode) {
    RadioRig rig({}, "[SaveFlash]\nType=S2\nRange1=0x100,0x17F\n");
    SaveCommand save(&rig.port, rig.profile.get());
    ASSERT_TRUE(save.Prepare(Memory::Flash));
    ASSERT_EQ(save.Save(rig.dir.File("f.s28"), nullptr), SaveOutcome::Saved);
    auto reads = Reads(rig.radio);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].address, 0x400100u);
    auto lines = Lines(rig.dir.Read("f.s28"));
    ASSERT_EQ(lines.size(), 6u) << "header, four 32-byte records, termination";
    EXPECT_EQ(lines[1].substr(0, 10), "S224000100");
    EXPECT_EQ(lines[4].substr(0, 10), "S224000160");
}

TEST(SaveCommand, LongRangeIsWrittenAfterEighthReadAndAtTheEnd) {
    RadioRig rig({}, "[SaveIE2PROM]\nType=S1\nRange1=0,1199\n");
    SaveCommand save(&rig.port, rig.profile.get());
    ASSERT_TRUE(save.Prepare(Memory::InternalEeprom));
    Recorder fe;
    ASSERT_EQ(save.Save(rig.dir.File("e.s19"), &fe), SaveOutcome::Saved);
    auto reads = Reads(rig.radio);
    ASSERT_EQ(reads.size(), 10u);
    EXPECT_EQ(reads[9].length, 48u);
    // The address field is shown whenever the buffer starts afresh: at 0 and after 1,024 bytes.
    EXPECT_THAT(fe.addresses, ElementsAre("", "0", "400"));
    auto lines = Lines(rig.dir.Read("e.s19"));
    EXPECT_EQ(lines.size(), 1u + 32u + 6u + 1u);  // 1,024 bytes in 32 records, then 176 in 6
}

// Nothing to read, no port to read it from, or no type to write: refused before the file is
// touched.
TEST(SaveCommand, NothingToReadIsRefusedAndThePreviousFileStays) {
    const std::string nothing =
        "Nothing to save: section [SaveRAM] has no Range1 whose start is below its end.";
    struct Case {
        const char* ini;
        std::optional<std::vector<SaveRange>> given;
        bool closePort;
        std::string message;
    } cases[] = {
        {"[SaveRAM]\nType=S1\n", std::nullopt, false, nothing},
        {"[SaveRAM]\nType=S1\nRange1=0x10,0xF\n", std::nullopt, false, nothing},
        {"[SaveRAM]\nType=S1\nRange1=0x10,0x10\nRange2=0x20,0x2F\n", std::nullopt, false, nothing},
        {"[SaveRAM]\nType=S1\n", std::vector<SaveRange>{{5, 4}, {0, 0xF}}, false,
         "Nothing to save: no range given has a start below its end."},
        {"[SaveRAM]\nType=S1\nRange1=0,0xF\n", std::nullopt, true,
         "Port is not open or its handler is bad."},
        {"[SaveRAM]\nRange1=0,0xF\n", std::nullopt, false,
         "No S-Record type: set Type in [SaveRAM] to S1, S2 or S3."},
        {"[SaveRAM]\nType=S4\nRange1=0,0xF\n", std::nullopt, false,
         "The S-Record type S4 in [SaveRAM] is none of S1, S2 or S3."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        RadioRig rig({}, c.ini);
        SaveCommand save(&rig.port, rig.profile.get());
        ASSERT_TRUE(save.Prepare(Memory::Ram));
        if (c.closePort)
            rig.port.Close();
        const std::string out = rig.dir.Write("keep.s19", "previous\n");
        zimptest::MessageCapture boxes;
        EXPECT_EQ(save.Save(out, nullptr, c.given), SaveOutcome::Refused);
        EXPECT_THAT(boxes.Texts(), ElementsAre(c.message));
        EXPECT_EQ(rig.dir.Read("keep.s19"), "previous\n");
        EXPECT_TRUE(Reads(rig.radio).empty());
        EXPECT_EQ(rig.dir.Read("ZIMPProtocol.ini").find("File="), std::string::npos);
    }
}

// A NAKed read is sent again, as a load's write is.
TEST(SaveCommand, NakedReadsAreRetried) {
    radio::ZimpRadioOptions o;
    o.nakEvery = 3;
    RadioRig rig(o, "[SaveRAM]\nType=S1\nRange1=0,0x3FF\n");
    Bytes data(0x400);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 13 + 1);
    rig.radio.Preload(0x800000, data);
    zimptest::MessageCapture boxes;
    SaveCommand save(&rig.port, rig.profile.get());
    ASSERT_TRUE(save.Prepare(Memory::Ram));
    ASSERT_EQ(save.Save(rig.dir.File("r.s19"), nullptr), SaveOutcome::Saved);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_GT(rig.radio.Stats().naks, 0u);
    const ReadResult read = ImageReader::Read(rig.dir.File("r.s19"));
    ASSERT_TRUE(read);
    ChunkReader back(*read.image);
    Bytes got(0x400);
    ASSERT_EQ(back.ReadChunk(got.data(), 0x400, 0xFF), 0x400);
    EXPECT_EQ(got, data);

    o.nakEvery = 1;  // a radio that refuses everything: four attempts, then the NAK's message
    RadioRig refusing(o, "[SaveRAM]\nType=S1\nRange1=0,0xF\n");
    zimptest::MessageCapture refused;
    SaveCommand again(&refusing.port, refusing.profile.get());
    ASSERT_TRUE(again.Prepare(Memory::Ram));
    EXPECT_EQ(again.Save(refusing.dir.File("n.s19"), nullptr), SaveOutcome::Failed);
    EXPECT_THAT(refused.Texts(), ElementsAre("NAK is received"));
    EXPECT_EQ(Reads(refusing.radio).size(), 4u);
}

TEST(SaveCommand, FurtherRangesAndPelkSharesSaveFlash) {
    RadioRig rig({},
                 "[SaveFlash]\nType=S1\nRange1=0x0,0xF\nRange2=0x20,0x2F;\nRange3=5,4\n"
                 "Range4=0x40,0x4F\n");
    SaveCommand save(&rig.port, rig.profile.get());
    ASSERT_TRUE(save.Prepare(Memory::Pelk));
    EXPECT_EQ(save.Title(), "Save Flash PELK Memory");
    EXPECT_EQ(save.Type(), "S1");
    ASSERT_EQ(save.Save(rig.dir.File("p.s19"), nullptr), SaveOutcome::Saved);
    auto reads = Reads(rig.radio);
    ASSERT_EQ(reads.size(), 2u) << "Range3 ends the loop; Range4 is never read";
    EXPECT_EQ(reads[0].address, 0x0u) << "the PELK flash has memory code 0";
    EXPECT_EQ(reads[1].address, 0x20u);
}

TEST(SaveCommand, GivenRangesRunInOrder) {
    RadioRig rig({}, "[SaveRAM]\nType=S3\n");
    SaveCommand save(&rig.port, rig.profile.get());
    ASSERT_TRUE(save.Prepare(Memory::Ram));
    std::vector<SaveRange> ranges = {{0x200, 0x20F}, {0x100, 0x10F}};
    ASSERT_EQ(save.Save(rig.dir.File("g.s37"), nullptr, ranges), SaveOutcome::Saved);
    auto reads = Reads(rig.radio);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].address, 0x800200u);
    EXPECT_EQ(reads[1].address, 0x800100u);
}

TEST(SaveCommand, FailuresAndEmptyReplies) {
    {
        RadioRig rig({}, "[SaveRAM]\nType=S1\nRange1=0,0xFF\n");
        zimptest::MessageCapture boxes;
        SaveCommand save(&rig.port, rig.profile.get());
        ASSERT_TRUE(save.Prepare(Memory::Ram));
        EXPECT_EQ(save.Save(rig.dir.File("no/such/dir.s19"), nullptr), SaveOutcome::NotOpened);
        EXPECT_THAT(boxes.Texts(),
                    ElementsAre("Cannot open file " + rig.dir.File("no/such/dir.s19") + "."));
    }
    {
        radio::ZimpRadioOptions o;
        o.silentAfter = 1;
        RadioRig rig(o, "[SaveRAM]\nType=S1\nRange1=0,0xFF\n");
        zimptest::MessageCapture boxes;
        SaveCommand save(&rig.port, rig.profile.get());
        ASSERT_TRUE(save.Prepare(Memory::Ram));
        const std::string previous = "S00600004844521B\r\nS9030000FC\r\n";
        rig.dir.Write("t.s19", previous);
        EXPECT_EQ(save.Save(rig.dir.File("t.s19"), nullptr), SaveOutcome::Failed);
        EXPECT_THAT(boxes.Texts(),
                    ElementsAre("ACK Timeout Error.", "The 128 bytes read so far are kept in " +
                                                          rig.dir.File("t.s19.partial") + "."));
        EXPECT_EQ(rig.dir.Read("t.s19"), previous) << "the previous file stays untouched";
        auto lines = Lines(rig.dir.Read("t.s19.partial"));
        EXPECT_EQ(lines.size(), 1u + 4u) << "records so far, no termination record";
        EXPECT_EQ(lines.back().substr(0, 8), "S1230060");
    }
    {
        SaveCommand save(nullptr, nullptr);
        zimptest::MessageCapture boxes;
        EXPECT_FALSE(save.Prepare(Memory::Ram));
        EXPECT_THAT(boxes.Texts(), ElementsAre("You have to set port and profile"));
    }
}

TEST(SaveCommand, ReplyWithoutDataStopsInsteadOfRepeatingForever) {
    radio::ZimpRadioOptions o;
    o.shortRead = true;  // every reply one byte short
    RadioRig rig(o, "[SaveRAM]\nType=S1\nRange1=0,1\n");
    zimptest::MessageCapture boxes;
    SaveCommand save(&rig.port, rig.profile.get());
    ASSERT_TRUE(save.Prepare(Memory::Ram));
    EXPECT_EQ(save.Save(rig.dir.File("s.s19"), nullptr), SaveOutcome::Failed);
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("Reply Format is wrong.", "The 1 byte read so far is kept in " +
                                                          rig.dir.File("s.s19.partial") + "."));
    EXPECT_EQ(Reads(rig.radio).size(), 2u) << "two bytes asked, one delivered, then none";
}

TEST(SaveCommand, CancelKeepsThePreviousFileAndWhatWasRead) {
    RadioRig rig({}, "[SaveRAM]\nType=S1\nRange1=0,0x3FF\n");
    zimptest::MessageCapture boxes;
    SaveCommand save(&rig.port, rig.profile.get());
    ASSERT_TRUE(save.Prepare(Memory::Ram));
    struct CancelAfter : SaveFrontEnd {
        SaveCommand* save;
        bool wasSaving = false;
        void ShowAddress(const std::string&) override {}
        void BytesSaved(uint32_t done, uint32_t) override {
            wasSaving = save->Saving();
            if (done >= 256)
                save->Cancel();
        }
    } fe;
    fe.save = &save;
    auto out = rig.dir.Write("c.s19", "previous\n");
    EXPECT_EQ(save.Save(out, &fe), SaveOutcome::Cancelled);
    EXPECT_TRUE(fe.wasSaving);
    EXPECT_FALSE(save.Saving());
    EXPECT_EQ(rig.dir.Read("c.s19"), "previous\n");
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("The 256 bytes read so far are kept in " + out + ".partial."));
    auto lines = Lines(rig.dir.Read("c.s19.partial"));
    ASSERT_EQ(lines.size(), 1u + 8u) << "header and 256 bytes, no termination record";
    EXPECT_EQ(lines.back().substr(0, 8), "S12300E0");
}

// A process about to end at once keeps what was read, from another thread, while the save
// waits for the radio; the save then ends without a second message.
TEST(SaveCommand, WhatWasReadIsKeptFromAnotherThreadBeforeTheProcessEnds) {
    radio::ZimpRadioOptions o;
    o.silentAfter = 2;
    RadioRig rig(o, "[SaveRAM]\nType=S1\nRange1=0,0x3FF\n");
    zimptest::MessageCapture boxes;
    SaveCommand save(&rig.port, rig.profile.get());
    ASSERT_TRUE(save.Prepare(Memory::Ram));
    const std::string out = rig.dir.Write("k.s19", "previous\n");
    std::thread ending([&] {
        zimptest::WaitUntil([&] { return rig.radio.Requests().size() >= 3; });
        save.KeepWhatWasRead();
        save.Cancel();
    });
    EXPECT_EQ(save.Save(out, nullptr), SaveOutcome::Cancelled);
    ending.join();
    EXPECT_THAT(boxes.Texts(),
                ElementsAre("The 256 bytes read so far are kept in " + out + ".partial."));
    EXPECT_EQ(rig.dir.Read("k.s19"), "previous\n");
    auto lines = Lines(rig.dir.Read("k.s19.partial"));
    ASSERT_EQ(lines.size(), 1u + 8u) << "header and the two reads, no termination record";
    EXPECT_EQ(lines.back().substr(0, 8), "S12300E0");
}

// The record type is taken at its 2 characters; a longer one is reported, not cut to S1.
TEST(SaveCommand, TypeOverItsLimitIsReported) {
    for (const char* type : {"S3", "S19"}) {
        RadioRig rig({}, std::string("[SaveRAM]\nType=") + type + "\n");
        zimptest::MessageCapture boxes;
        SaveCommand save(&rig.port, rig.profile.get());
        ASSERT_TRUE(save.Prepare(Memory::Ram));
        if (std::string(type) == "S3") {
            EXPECT_EQ(save.Type(), "S3");
            EXPECT_TRUE(boxes.Texts().empty());
        } else {
            EXPECT_EQ(save.Type(), "");
            EXPECT_THAT(boxes.Texts(),
                        ElementsAre("The value of Type in section [SaveRAM] is longer "
                                    "than 2 characters; it is not used."));
        }
    }
}

// The file name is taken up to the system's path limit and reported past it; an Echo that is
// no number stops the save before anything is sent.
TEST(SaveCommand, FileTakesThePathLimitAndEchoMustBeANumber) {
    for (size_t length : {streams::ConfigurationBuffer::kMaxFileName,
                          streams::ConfigurationBuffer::kMaxFileName + 1}) {
        const std::string name = "/" + std::string(length - 1, 'f');
        RadioRig rig({}, "[SaveRAM]\nType=S1\nFile=" + name + "\n");
        zimptest::MessageCapture boxes;
        SaveCommand save(&rig.port, rig.profile.get());
        ASSERT_TRUE(save.Prepare(Memory::Ram));
        if (length == streams::ConfigurationBuffer::kMaxFileName) {
            EXPECT_EQ(save.FileName(), name);
            EXPECT_TRUE(boxes.Texts().empty());
        } else {
            EXPECT_EQ(save.FileName(), "");
            EXPECT_THAT(boxes.Texts(), ElementsAre("The value of File in section [SaveRAM] is "
                                                   "longer than 4095 characters; it is not used."));
        }
    }
    RadioRig rig({}, "[configuration]\nEcho=yes\n[SaveRAM]\nType=S1\nRange1=0,0xF\n");
    zimptest::MessageCapture boxes;
    SaveCommand save(&rig.port, rig.profile.get());
    EXPECT_FALSE(save.Prepare(Memory::Ram));
    EXPECT_THAT(
        boxes.Texts(),
        ElementsAre("The value \"yes\" of Echo in section [configuration] is not a number."));
}
