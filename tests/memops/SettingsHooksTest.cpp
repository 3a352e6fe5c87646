// The pieces the settings dialogs and the requests window stand on: integer fields, the
// protocol settings, reopening the port, and the requests' re-entry guard.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MemopsTestSupport.h"
#include "memops/FieldChecks.h"
#include "memops/PortReopen.h"
#include "memops/ProtocolSettings.h"
#include "memops/RequestsSession.h"
#include "support/PtyLine.h"

#include <poll.h>

#include <chrono>
#include <thread>

using namespace memops;

using namespace serial;

using namespace streams;

using namespace memopstest;
using ::testing::ElementsAre;

TEST(FieldChecks, IntegerFieldsAsTheFrameworkChecksThem) {
    struct Case {
        const char* text;
        IntegerKind kind;
        long long min, max;
        bool ok;
        long long value;  // when ok
        const char* box;  // when refused
    };
    const Case cases[] = {
        {" 42 ", IntegerKind::Unsigned, 1, 100, true, 42, ""},
        {"+7", IntegerKind::Signed, 1, 255, true, 7, ""},
        {"-3", IntegerKind::Signed, -5, 5, true, -3, ""},
        {"-1", IntegerKind::Unsigned, 1, 100, false, 0, "Please enter a positive integer."},
        {"", IntegerKind::Unsigned, 1, 100, false, 0, "Please enter a positive integer."},
        {"12a", IntegerKind::Signed, 1, 255, false, 0, "Please enter an integer."},
        {"0x10", IntegerKind::Signed, 1, 255, false, 0, "Please enter an integer."},
        {"16", IntegerKind::Unsigned, 32, 8192, false, 0,
         "Please enter an integer between 32 and 8192."},
        {"99999999999999999999", IntegerKind::Unsigned, 60, 10000000, false, 0,
         "Please enter an integer between 60 and 10000000."},
    };
    for (const Case& c : cases) {
        zimptest::MessageCapture boxes;
        long long v = -99;
        EXPECT_EQ(CheckIntegerField(c.text, c.kind, c.min, c.max, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
            EXPECT_TRUE(boxes.Texts().empty()) << c.text;
        } else {
            EXPECT_EQ(v, -99) << c.text;
            EXPECT_THAT(boxes.Texts(), ElementsAre(c.box)) << c.text;
        }
    }
}

TEST(ProtocolSettings, PrefixedBlockSizeIsReadAndWrittenBackDecimal) {
    TempDir dir;
    const std::string ini = dir.Write("z.ini",
                                      "; kept\n[configuration]\nEcho=1\nPort=x\n"
                                      "[LoadMemory]\nBlockSize=0x100\n");
    profilestream profile(ini);
    ProtocolSettings s;
    ReadProtocolSettings(profile, s);
    EXPECT_EQ(s.blockSize, 256u);
    EXPECT_EQ(s.echo, 1);
    WriteProtocolSettings(profile, s);
    EXPECT_EQ(dir.Read("z.ini"),
              "; kept\n[configuration]\nEcho=1\nPort=x\n[LoadMemory]\nBlockSize=256\n");
}

TEST(ProtocolSettings, MissingKeysKeepThePreviousValues) {
    TempDir dir;
    profilestream profile(dir.Write("z.ini", "[configuration]\nPort=x\n"));
    ProtocolSettings s{1024, 1};
    ReadProtocolSettings(profile, s);
    EXPECT_EQ(s.blockSize, 1024u);
    EXPECT_EQ(s.echo, 1);
}

TEST(ProtocolSettings, RefusedBlockSizeLeavesTheSettings) {
    zimptest::MessageCapture boxes;
    ProtocolSettings s{64, 0};
    EXPECT_EQ(CheckProtocolSettings("16", true, s), ProtocolField::BlockSize);
    EXPECT_EQ(s.blockSize, 64u);
    EXPECT_EQ(s.echo, 0);
    EXPECT_EQ(CheckProtocolSettings(" 8192 ", true, s), ProtocolField::None);
    EXPECT_EQ(s.blockSize, 8192u);
    EXPECT_EQ(s.echo, 1);
    EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter an integer between 32 and 8192."));
}

TEST(PortReopen, FieldsNameTheOneThatFailed) {
    zimptest::MessageCapture boxes;
    PortChoice c;
    EXPECT_EQ(CheckPortChoice("/dev/x", "59", "1", c), PortChoiceField::Rate);
    EXPECT_EQ(CheckPortChoice("/dev/x", "9600", "1025", c), PortChoiceField::Factor);
    EXPECT_EQ(CheckPortChoice("/dev/x", "115200", "4", c), PortChoiceField::None);
    EXPECT_EQ(c.name, "/dev/x");
    EXPECT_EQ(c.rate, 115200u);
    EXPECT_EQ(c.factor, 4u);
    EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter an integer between 60 and 10000000.",
                                           "Please enter an integer between 1 and 1024."));
}

TEST(PortReopen, NewRateIsDividedByTheFactor) {
    PtyLine line;
    ASSERT_TRUE(line.ok());
    SerialPort port;
    ASSERT_TRUE(port.Open(line.SlavePath(), 9600));
    PortChoice stored{line.SlavePath(), 0, 1};
    EXPECT_EQ(CurrentPortChoice(port, stored.name, stored.factor).rate, 9600u);
    ASSERT_TRUE(ReopenPort(port, {line.SlavePath(), 115200, 4}, stored));
    EXPECT_EQ(port.StoredRate(), 28800u);
    EXPECT_EQ(port.EffectiveRate(), 115200u);
    EXPECT_EQ(stored.factor, 4u);
}

TEST(PortReopen, MissingDeviceReopensThePreviousPort) {
    zimptest::MessageCapture boxes;
    PtyLine line;
    ASSERT_TRUE(line.ok());
    SerialPort port;
    port.SetBaudrateFactor(2);
    ASSERT_TRUE(port.Open(line.SlavePath(), 19200));
    PortChoice stored{line.SlavePath(), 0, 2};
    EXPECT_FALSE(ReopenPort(port, {"/dev/zimp-no-such-port", 9600, 1}, stored));
    EXPECT_THAT(boxes.Texts(), ElementsAre("Cannot open port /dev/zimp-no-such-port"));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.PortName(), line.SlavePath());
    EXPECT_EQ(port.BaudrateFactor(), 2u);
    EXPECT_EQ(port.EffectiveRate(), 19200u);
    EXPECT_EQ(stored.name, line.SlavePath());
}

namespace {
// A view that presses OK again while the first request waits for its reply.
struct NestedView : RequestsView {
    RequestsSession* session = nullptr;
    int nestedRefused = 0;
    std::string response;
    void SetAddressField(const std::string&) override {}
    void SetAddressResponse(const std::string&) override {}
    void AppendResponse(const std::string& t) override {
        response += t;
        if (session &&
            session->Run(ZimpRequest::Read, "000000", "", "1", *this) == RequestOutcome::Busy)
            ++nestedRefused;
    }
};
}  // namespace

TEST(RequestsSession, SecondRunWhileOneRunsIsIgnored) {
    RadioRig rig({}, "[configuration]\nEcho=0\n");
    ASSERT_TRUE(rig.ok);
    zimptest::MessageCapture boxes;
    RequestsSession session(&rig.port, rig.profile.get());
    ASSERT_TRUE(session.Open());
    rig.radio.Preload(0x10, {0x5A});
    NestedView view;
    view.session = &session;
    ASSERT_EQ(session.Run(ZimpRequest::Read, "10", "", "1", view), RequestOutcome::Succeeded);
    EXPECT_EQ(view.nestedRefused, 2);  // once for "\r\n>", once for the bytes
    EXPECT_EQ(view.response, "\r\n>5A");
    EXPECT_EQ(rig.radio.Requests().size(), 1u);
    EXPECT_FALSE(session.Running());
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST(RequestsSession, RefusedFieldIsNamed) {
    RadioRig rig;
    zimptest::MessageCapture boxes;
    RequestsSession session(&rig.port, rig.profile.get());
    ASSERT_TRUE(session.Open());
    NestedView view;
    const std::tuple<const char*, const char*, const char*, RequestsField> cases[] = {
        {"0", "00", "", RequestsField::Counter},
        {"1", "0g", "", RequestsField::Address},
        {"1", "00", "123", RequestsField::Data},
    };
    for (const auto& [counter, address, data, field] : cases) {
        EXPECT_EQ(session.Run(ZimpRequest::Read, address, data, counter, view),
                  RequestOutcome::Refused);
        EXPECT_EQ(session.FailedField(), field) << counter << " " << address << " " << data;
    }
    EXPECT_TRUE(rig.radio.Requests().empty());
}

namespace {
// A front end whose user presses "Abort Req" as soon as the reply wait starts.
struct AbortingPump : platform::MessagePump {
    SerialPort* port = nullptr;
    bool PumpUntil(platform::Event& done, uint32_t ms) override {
        port->AbortAll();
        pollfd p{done.fd(), POLLIN, 0};
        return poll(&p, 1, static_cast<int>(std::min<uint32_t>(ms, 5000))) > 0;
    }
};
}  // namespace

TEST(RequestsSession, AbortedReplyWaitShowsNothing) {
    TempDir dir;
    profilestream profile(dir.Write("z.ini", "[configuration]\nEcho=0\n"));
    PtyLine line;
    ASSERT_TRUE(line.ok());
    SerialPort port;
    ASSERT_TRUE(port.Open(line.SlavePath(), 115200));
    AbortingPump pump;
    pump.port = &port;
    port.SetPump(&pump);
    zimptest::MessageCapture boxes;
    RequestsSession session(&port, &profile);
    ASSERT_TRUE(session.Open());
    NestedView view;
    const ZimpRequest requests[] = {ZimpRequest::Read, ZimpRequest::Status,
                                    ZimpRequest::Configuration, ZimpRequest::CheckSum};
    // The radio acknowledges each request and then says nothing.
    std::thread radio([&] {
        for (size_t i = 0; i < std::size(requests); ++i) {
            if (line.Receive(1).empty())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            line.Receive(64, 0);
            line.Send({0x50});
        }
    });
    for (ZimpRequest r : requests) {
        ASSERT_EQ(session.Run(r, "000010", "", "2", view), RequestOutcome::Failed);
        EXPECT_FALSE(session.Succeeded());
    }
    radio.join();
    EXPECT_EQ(view.response, "\r\n>");
    EXPECT_TRUE(boxes.Texts().empty()) << boxes.Texts().front();
}
