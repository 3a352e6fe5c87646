#include "memops/RequestsSession.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "MemopsTestSupport.h"
#include "support/PtyLine.h"

using namespace memops;
using namespace serial;
using namespace streams;

using namespace memopstest;
using ::testing::ElementsAre;

namespace {
struct View : RequestsView {
    std::vector<std::string> status;
    std::string addressField, addressResponse = "untouched", response;
    void SetStatusText(const std::string& t) override { status.push_back(t); }
    void SetAddressField(const std::string& t) override { addressField = t; }
    void SetAddressResponse(const std::string& t) override { addressResponse = t; }
    void AppendResponse(const std::string& t) override { response += t; }
};

struct Session {
    explicit Session(radio::ZimpRadioOptions o = {}, const std::string& ini = "")
        : rig(o, ini.empty() ? "[configuration]\nEcho=0\n" : ini) {
        opened = session.Open();
    }
    RadioRig rig;
    zimptest::MessageCapture boxes;
    RequestsSession session{&rig.port, rig.profile.get()};
    View view;
    bool opened;
};
}  // namespace

TEST(RequestsSession, FieldChecks) {
    zimptest::MessageCapture boxes;
    std::string t;
    EXPECT_TRUE(CheckHexField(" 1a2b ", 6, t));
    EXPECT_EQ(t, "1a2b");
    EXPECT_FALSE(CheckHexField("1a2", 6, t));
    EXPECT_FALSE(CheckHexField("1g", 6, t));
    EXPECT_FALSE(CheckHexField("12345678g", 6, t)) << "too long: only the length message";
    uint32_t c;
    EXPECT_FALSE(CheckCounter("0", c));
    EXPECT_FALSE(CheckCounter("x", c));
    EXPECT_TRUE(CheckCounter("255", c));
    EXPECT_EQ(c, 255u);
    EXPECT_THAT(boxes.Texts(), ElementsAre("The number of caracters must be even",
                                           "Characters must be in hex format( 0-9, a-f)",
                                           "Number of caracters must be less than 6",
                                           "Please enter an integer between 1 and 255.",
                                           "Please enter an integer."));
}

TEST(RequestsSession, ReadAppendsHexAndRewritesAddress) {
    Session s;
    ASSERT_TRUE(s.opened);
    s.rig.radio.Preload(0x1a2b, {0x01, 0xAB, 0x00, 0xFF});
    ASSERT_EQ(s.session.Run(ZimpRequest::Read, "1a2b", "", "4", s.view), RequestOutcome::Succeeded);
    EXPECT_TRUE(s.session.Succeeded());
    EXPECT_EQ(s.view.addressField, "001a2b");
    EXPECT_EQ(s.view.response, "\r\n>01AB00FF");
    EXPECT_THAT(s.view.status, ElementsAre("Waiting Response", "Ready"));
    EXPECT_TRUE(s.boxes.Texts().empty());
}

TEST(RequestsSession, RefusedFieldSendsNothing) {
    Session s;
    EXPECT_EQ(s.session.Run(ZimpRequest::Read, "1a2", "", "4", s.view), RequestOutcome::Refused);
    EXPECT_THAT(s.boxes.Texts(), ElementsAre("The number of caracters must be even"));
    EXPECT_TRUE(s.rig.radio.Requests().empty());
    EXPECT_TRUE(s.view.status.empty());
}

TEST(RequestsSession, ResultTexts) {
    Session s({}, "[configuration]\nEcho=0\n");
    s.rig.radio.Preload(0x100, {1, 2, 3, 0xFF});
    ASSERT_EQ(s.session.Run(ZimpRequest::CheckSum, "000100", "", "4", s.view),
              RequestOutcome::Succeeded);
    ASSERT_EQ(s.session.Run(ZimpRequest::Configuration, "000100", "", "4", s.view),
              RequestOutcome::Succeeded);
    ASSERT_EQ(s.session.Run(ZimpRequest::WriteData, "001234", "0a0b", "4", s.view),
              RequestOutcome::Succeeded);
    EXPECT_EQ(s.view.addressResponse, "1234");
    ASSERT_EQ(s.session.Run(ZimpRequest::Status, "000000", "", "4", s.view),
              RequestOutcome::Succeeded);
    EXPECT_THAT(s.boxes.Texts(), ElementsAre("Check Sum: 105", "Buffer Length is 0x2000",
                                             "Address is 0x00001234\rStatus is 0x00"));
    EXPECT_EQ(s.rig.radio.ReadMemory(0x1234, 2), (Bytes{0x0a, 0x0b}));
}

TEST(RequestsSession, EraseWaitsForWriteResponseAndBadWriteIsReported) {
    {
        Session s;
        ASSERT_EQ(s.session.Run(ZimpRequest::EraseFlash, "000000", "", "1", s.view),
                  RequestOutcome::Succeeded);
        EXPECT_TRUE(s.session.Succeeded());
        EXPECT_EQ(s.view.addressResponse, "400000");
    }
    {
        radio::ZimpRadioOptions o;
        o.badWriteAt = 0x2000;
        Session s(o);
        ASSERT_EQ(s.session.Run(ZimpRequest::WriteData, "002000", "01", "1", s.view),
                  RequestOutcome::BadWrite);
        EXPECT_FALSE(s.session.Succeeded());
        EXPECT_TRUE(s.session.BadWrite());
        EXPECT_EQ(s.view.addressResponse, "2000");
        EXPECT_THAT(s.boxes.Texts(), ElementsAre("Bad Write Response"));
    }
}

TEST(RequestsSession, FreeRequestSendsNothingButRunsItsSteps) {
    Session s;
    ASSERT_EQ(s.session.Run(ZimpRequest::FreeRequest, "12", "", "1", s.view),
              RequestOutcome::Succeeded);
    EXPECT_EQ(s.view.addressField, "000012");
    EXPECT_THAT(s.view.status, ElementsAre("Waiting Response", "Ready"));
    EXPECT_TRUE(s.rig.radio.Requests().empty());
}

TEST(RequestsSession, LastValuesPersistAcrossSessions) {
    RadioRig rig({}, "[configuration]\nEcho=0\n");
    {
        RequestsSession session(&rig.port, rig.profile.get());
        ASSERT_TRUE(session.Open());
        EXPECT_EQ(session.LastAddress(), "000000");
        EXPECT_EQ(session.LastCounter(), 1u);
        View v;
        session.Run(ZimpRequest::WriteData, "abcd", "0102", "7", v);
        session.Close();
    }
    RequestsSession again(&rig.port, rig.profile.get());
    ASSERT_TRUE(again.Open());
    EXPECT_EQ(again.LastAddress(), "00abcd");
    EXPECT_EQ(again.LastData(), "0102");
    EXPECT_EQ(again.LastCounter(), 7u);
}

TEST(RequestsSession, NoPortOrProfileRefusesToOpen) {
    zimptest::MessageCapture boxes;
    RequestsSession s(nullptr, nullptr);
    EXPECT_FALSE(s.Open());
    EXPECT_THAT(boxes.Texts(), ElementsAre("You have to set port and profile"));
}

// A radio that goes away is reported once, by its port's name; the next request opens the
// configured name again and reaches the radio that came back there.
TEST(RequestsSession, APortThatWentAwayIsReportedAndOpenedAgain) {
    Session s;
    ASSERT_TRUE(s.opened);
    const std::string link = s.rig.dir.File("radio");
    ASSERT_EQ(symlink(s.rig.pty.SlavePath().c_str(), link.c_str()), 0);
    ASSERT_TRUE(s.rig.port.Open(link, 115200));
    s.rig.Stop();
    s.rig.pty.CloseMaster();  // the radio is unplugged
    EXPECT_EQ(s.session.Run(ZimpRequest::Status, "00", "", "1", s.view), RequestOutcome::Failed);
    EXPECT_THAT(s.boxes.Texts(), ElementsAre("The port " + link + " went away."));

    SimulatedRadio back;  // plugged in again: a new device under the same name
    ASSERT_TRUE(back.OpenLine());
    back.Start();
    const std::string next = link + ".new";
    ASSERT_EQ(symlink(back.pty.SlavePath().c_str(), next.c_str()), 0);
    ASSERT_EQ(rename(next.c_str(), link.c_str()), 0);
    EXPECT_EQ(s.session.Run(ZimpRequest::Status, "00", "", "1", s.view), RequestOutcome::Succeeded);
    EXPECT_EQ(s.boxes.Texts().size(), 2u) << s.boxes.Texts().back();
    EXPECT_EQ(back.radio.Requests().size(), 1u);
    s.session.Close();
    s.rig.port.Close();
}

// The answer to a write that was aborted while the radio was still receiving it comes late;
// the next request does not take it for its own.
TEST(RequestsSession, ALateAnswerToAnAbortedRequestIsNotTakenForTheNext) {
    Session s;
    ASSERT_TRUE(s.opened);
    s.rig.Stop();
    s.rig.Start(115200);  // a 4 KB frame takes the radio about 360 ms to receive
    zimp::ZimpEngine engine;
    ASSERT_TRUE(engine.Attach(&s.rig.port, false));
    std::thread user([&] {
        zimptest::WaitUntil([&] { return !s.rig.radio.Requests().empty(); });
        s.rig.port.AbortAll();
    });
    const Bytes block(4000, 0x5A);
    EXPECT_EQ(engine.WriteData(0x801000, block.data(), static_cast<uint32_t>(block.size())),
              zimp::RequestResult::LinkFailure);
    user.join();
    EXPECT_EQ(engine.LinkError(), zimp::LinkError::Aborted);
    engine.Detach();
    EXPECT_EQ(s.session.Run(ZimpRequest::Status, "00", "", "1", s.view), RequestOutcome::Succeeded)
        << (s.boxes.Texts().empty() ? "" : s.boxes.Texts().front());
}

TEST(RequestsSession, EchoThatIsNoNumberRefusesToOpen) {
    Session s({}, "[configuration]\nEcho=yes\n");
    EXPECT_FALSE(s.opened);
    EXPECT_THAT(
        s.boxes.Texts(),
        ElementsAre("The value \"yes\" of Echo in section [configuration] is not a number."));
}

// The last address and data are taken up to 255 characters; a longer value is reported, not cut.
TEST(RequestsSession, LastValuesOverTheirLimitAreReported) {
    for (size_t length : {size_t(255), size_t(256)}) {
        const std::string a(length, 'a'), d(length, 'd');
        Session s({}, "[configuration]\nEcho=0\nLastAddress=" + a + "\nLastData=" + d + "\n");
        ASSERT_TRUE(s.opened);
        if (length == 255) {
            EXPECT_EQ(s.session.LastAddress(), a);
            EXPECT_EQ(s.session.LastData(), d);
            EXPECT_TRUE(s.boxes.Texts().empty());
        } else {
            EXPECT_EQ(s.session.LastAddress(), "000000");
            EXPECT_EQ(s.session.LastData(), "");
            const std::string past =
                " in section [configuration] is longer than 255 characters; it is not used.";
            EXPECT_THAT(s.boxes.Texts(), ElementsAre("The value of LastAddress" + past,
                                                     "The value of LastData" + past));
        }
    }
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
    Configuration profile(dir.Write("z.ini", "[configuration]\nEcho=0\n"));
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
