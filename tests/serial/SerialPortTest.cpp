#include "serial/SerialPort.h"

#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/Clock.h"
#include "serial/PortSettingsEditor.h"
#include "streams/MessagePresenter.h"
#include "streams/MessageStreams.h"
#include "support/PtyLine.h"
#include "support/TempDir.h"

using namespace serial;

using namespace streams;

using ::testing::ElementsAre;

namespace {

int ThreadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
    }
    return n;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(line.ok());
        SetMessagePresenter(&boxes);
    }
    void TearDown() override { SetMessagePresenter(nullptr); }
    bool OpenPort(uint32_t rate = 9600) { return port.Open(line.SlavePath(), rate); }

    PtyLine line;
    RecordingPresenter boxes;
    SerialPort port;
};

}  // namespace

TEST_F(SerialPortTest, WritesAndReadsThroughWorkers) {
    ASSERT_TRUE(OpenPort());
    int32_t err = 5;
    const uint8_t out[] = {0xF1, 0x13, 0xFB};
    EXPECT_EQ(port.Write(out, 3, err), 3u);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(line.Receive(3), std::vector<uint8_t>({0xF1, 0x13, 0xFB}));
    line.Send({0x50, 0x11, 0x13, 0x0D});  // XON/XOFF and CR pass untouched
    uint8_t in[4] = {};
    EXPECT_EQ(port.Read(in, 4, err), 4u);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(in[1], 0x11);
    EXPECT_EQ(in[3], 0x0D);
}

TEST_F(SerialPortTest, ReadTimeoutReturnsWhatArrived) {
    ASSERT_TRUE(OpenPort());
    ASSERT_TRUE(port.SetReadTimeout(30));
    line.Send({1, 2});
    uint8_t in[8];
    int32_t err = 5;
    EXPECT_EQ(port.Read(in, 8, err), 2u);
    EXPECT_EQ(err, 0);
}

TEST_F(SerialPortTest, ReadTimeoutZeroReturnsAtOnce) {
    ASSERT_TRUE(OpenPort());
    ASSERT_TRUE(port.SetReadTimeout(0));
    platform::SerialTimeouts t;
    ASSERT_TRUE(port.CurrentTimeouts(t));
    EXPECT_EQ(t.readInterval, 0xFFFFFFFFu);
    EXPECT_EQ(t.readMultiplier, 0u);
    EXPECT_EQ(t.readConstant, 0u);
    uint8_t in[1];
    int32_t err = 5;
    EXPECT_EQ(port.Read(in, 1, err), 0u);
    EXPECT_EQ(err, 0);
    line.Send({9});
    for (int i = 0; i < 500 && port.Read(in, 1, err) == 0; ++i)
        platform::SleepMs(2);
    EXPECT_EQ(in[0], 9);
}

TEST_F(SerialPortTest, AbortAllEndsReadWithoutTimeout) {
    ASSERT_TRUE(OpenPort());
    ASSERT_TRUE(port.SetReadTimeout(0xFFFFFFFF));
    uint8_t in[4];
    int32_t err = 0;
    uint32_t got = 99;
    std::thread reader([&] { got = port.Read(in, 4, err); });
    line.Send({0xAA});
    platform::SleepMs(50);
    port.AbortAll();
    reader.join();
    EXPECT_EQ(err, SerialPort::kAborted);
    EXPECT_EQ(got, 1u);

    // The abort does not carry over to the next read.
    ASSERT_TRUE(port.SetReadTimeout(1000));
    line.Send({0xBB});
    EXPECT_EQ(port.Read(in, 1, err), 1u);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(in[0], 0xBB);
}

TEST_F(SerialPortTest, ReadAndWriteCountWhatMovedAtOnceAndWhatCameLater) {
    ASSERT_TRUE(OpenPort());
    ASSERT_TRUE(port.SetReadTimeout(5000));
    line.Send({1, 2});
    uint8_t in[4] = {};
    int32_t err = 5;
    uint32_t got = 0;
    std::thread reader([&] { got = port.Read(in, 4, err); });
    platform::SleepMs(20);
    line.Send({3, 4});
    reader.join();
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(err, 0);
    EXPECT_THAT(in, ElementsAre(1, 2, 3, 4));

    // More than the line takes at once: the rest waits until the other side reads.
    std::vector<uint8_t> block(256 * 1024);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(port.SetWriteTimeout(5000));
    uint32_t put = 0;
    std::thread writer([&] { put = port.Write(block.data(), uint32_t(block.size()), err); });
    EXPECT_EQ(line.Receive(block.size()), block);
    writer.join();
    EXPECT_EQ(put, block.size());
    EXPECT_EQ(err, 0);
}

TEST_F(SerialPortTest, CloseEndsPendingReadOfWorker) {
    ASSERT_TRUE(OpenPort());
    ASSERT_TRUE(port.SetReadTimeout(0xFFFFFFFF));
    std::atomic<int32_t> result{5};
    platform::Event finished;
    static uint8_t buf[4];
    static TransferRequest req;
    req = {buf, 4, 0};
    ASSERT_TRUE(port.PostWithCallback(PortWorkerKind::Reader, &req, [&](void*, int32_t r) {
        result = r;
        finished.Set();
    }));
    port.Close();  // purges and stops the workers; must not hang
    EXPECT_TRUE(finished.Wait(0));
    EXPECT_NE(result.load(), 5);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortTest, RateFactorArithmetic) {
    ASSERT_TRUE(port.SetBaudrateFactor(4));
    ASSERT_TRUE(OpenPort(115200));
    EXPECT_EQ(port.StoredRate(), 28800u);
    EXPECT_EQ(port.EffectiveRate(), 115200u);
    EXPECT_EQ(port.ByteMultiplier(), 0u);
    platform::SerialTimeouts t;
    ASSERT_TRUE(port.CurrentTimeouts(t));
    EXPECT_EQ(t.readMultiplier, 0u);
    EXPECT_EQ(t.writeMultiplier, 0u);

    ASSERT_TRUE(port.SetBaudrateFactor(1));
    ASSERT_TRUE(port.SetBaudRate(600));
    EXPECT_EQ(port.StoredRate(), 600u);
    ASSERT_TRUE(port.CurrentTimeouts(t));
    EXPECT_EQ(t.readMultiplier, 1u);
    EXPECT_EQ(t.writeMultiplier, 1u);
    EXPECT_EQ(t.readConstant, 1000u) << "SetBaudRate keeps the constants";
}

TEST_F(SerialPortTest, ZeroFactorAndZeroRateAreRefused) {
    EXPECT_FALSE(port.SetBaudrateFactor(0));
    EXPECT_EQ(port.BaudrateFactor(), 1u);
    ASSERT_TRUE(port.SetBaudrateFactor(8));
    EXPECT_FALSE(port.SetBaudRate(7)) << "7 / 8 would store 0";
    EXPECT_EQ(port.StoredRate(), 9600u);
    EXPECT_FALSE(port.Open(line.SlavePath(), 4)) << "opening with a stored rate of 0 fails";
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortTest, LongPortNameIsCutTo259) {
    // Names up to the path limit open (stable by-id names are long); a longer one is refused,
    // never cut into another name.
    TempDir dir;
    const std::string folder = dir.File(std::string(200, 'd'));
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::string link = folder + "/" + std::string(150, 'l');
    ASSERT_EQ(symlink(line.SlavePath().c_str(), link.c_str()), 0);
    ASSERT_GT(link.size(), 300u);
    EXPECT_TRUE(port.Open(link, 9600));
    EXPECT_EQ(port.PortName(), link);
    port.Close();
    const std::string tooLong = "/" + std::string(SerialPort::kMaxPortName, 'x');
    EXPECT_FALSE(port.Open(tooLong, 9600));
    EXPECT_EQ(port.LastOpenFailure().error, platform::OpenError::NameTooLong);
    EXPECT_EQ(port.PortName(), link);
}

TEST_F(SerialPortTest, OpenFailureSaysWhy) {
    EXPECT_FALSE(port.Open("/nonexistent/tty", 9600));
    EXPECT_EQ(port.LastOpenFailure().error, platform::OpenError::NotFound);
    ASSERT_TRUE(port.SetBaudrateFactor(8));
    EXPECT_FALSE(port.Open(line.SlavePath(), 4)) << "a stored rate of 0";
    EXPECT_EQ(port.LastOpenFailure().error, platform::OpenError::Settings);
    ASSERT_TRUE(port.SetBaudrateFactor(1));
    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(port.LastOpenFailure().error, platform::OpenError::None);
    SerialPort second;
    EXPECT_FALSE(second.Open(line.SlavePath(), 9600)) << "one port, one program";
    EXPECT_EQ(second.LastOpenFailure().error, platform::OpenError::Busy);
    port.Close();
    EXPECT_TRUE(second.Open(line.SlavePath(), 9600)) << "released on close";
}

TEST_F(SerialPortTest, SettersOnClosedPortApplyAtNextOpen) {
    EXPECT_TRUE(port.SetReadTimeout(250));
    EXPECT_TRUE(port.SetWriteTimeout(300));
    EXPECT_TRUE(port.SetQueueSizes(1024, 8192));
    EXPECT_TRUE(port.SetBaudRate(600));
    ASSERT_TRUE(port.Open(line.SlavePath(), 600));
    platform::SerialTimeouts t;
    ASSERT_TRUE(port.CurrentTimeouts(t));
    EXPECT_EQ(t, (platform::SerialTimeouts{0, 1, 250, 1, 300}));
    EXPECT_EQ(port.Device().RequestedInQueue(), 1024u);
    EXPECT_EQ(port.Device().RequestedOutQueue(), 8192u);
}

TEST_F(SerialPortTest, ReopenReplacesWorkers) {
    ASSERT_TRUE(OpenPort());
    const int threadsOpen = ThreadCount();
    ASSERT_TRUE(OpenPort());
    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(ThreadCount(), threadsOpen);
    int32_t err;
    line.Send({0x42});
    uint8_t in;
    EXPECT_EQ(port.Read(&in, 1, err), 1u);
    port.Close();
    EXPECT_EQ(ThreadCount(), threadsOpen - 3);
}

TEST_F(SerialPortTest, TransfersOnClosedPortMoveNothing) {
    uint8_t b[2] = {1, 2};
    int32_t err = 7;
    EXPECT_EQ(port.Write(b, 2, err), 0u);
    EXPECT_EQ(port.Read(b, 2, err), 0u);
    EXPECT_EQ(port.ReadPumping(b, 2, err), 0u);
    EXPECT_EQ(port.WriteDirect(b, 2), 0u);
    EXPECT_EQ(port.ReadDirect(b, 2), 0u);
    EXPECT_FALSE(port.PostWithCallback(PortWorkerKind::Reader, nullptr, nullptr));
}

TEST_F(SerialPortTest, DirectTransfersOnCallersThread) {
    ASSERT_TRUE(OpenPort());
    ASSERT_TRUE(port.SetReadTimeout(1000));
    const uint8_t out[] = {0xFF, 1, 2};
    EXPECT_EQ(port.WriteDirect(out, 3), 3u);
    EXPECT_EQ(line.Receive(3), std::vector<uint8_t>({0xFF, 1, 2}));
    line.Send({5, 6});
    uint8_t in[2];
    EXPECT_EQ(port.ReadDirect(in, 2), 2u);
    EXPECT_EQ(in[1], 6);
}

TEST_F(SerialPortTest, LineGoneGivesLineErrorInsteadOfHanging) {
    ASSERT_TRUE(OpenPort());
    ASSERT_TRUE(port.SetReadTimeout(0xFFFFFFFF));
    uint8_t in[4];
    int32_t err = 0;
    std::thread reader([&] { port.Read(in, 4, err); });
    platform::SleepMs(50);
    line.CloseMaster();
    reader.join();
    EXPECT_EQ(err, static_cast<int32_t>(platform::kErrIo));
}

TEST_F(SerialPortTest, EventWorkerReportsReceivedCharacter) {
    ASSERT_TRUE(OpenPort());
    port.SetEventMask(platform::kEvRxChar | platform::kEvErr);
    uint32_t word = 0;
    platform::Event done;
    std::atomic<int32_t> result{5};
    ASSERT_TRUE(port.PostWithCallback(PortWorkerKind::Event, &word, [&](void*, int32_t r) {
        result = r;
        done.Set();
    }));
    line.Send({0x31});
    ASSERT_TRUE(done.Wait(5000));
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(word, static_cast<uint32_t>(platform::kEvRxChar));
}

TEST_F(SerialPortTest, CompletionByMessageCarriesResultAndRequest) {
    struct Target : platform::MessageTarget {
        platform::Event got;
        std::atomic<intptr_t> w{5}, l{0};
        void PostMessage(uint32_t, intptr_t wp, intptr_t lp) override {
            w = wp;
            l = lp;
            got.Set();
        }
    } target;
    ASSERT_TRUE(OpenPort());
    uint8_t buf[2];
    TransferRequest req{buf, 2, 0};
    ASSERT_TRUE(port.PostWithMessage(PortWorkerKind::Reader, &req, &target));
    line.Send({3, 4});
    ASSERT_TRUE(target.got.Wait(5000));
    EXPECT_EQ(target.w.load(), 0);
    EXPECT_EQ(target.l.load(), reinterpret_cast<intptr_t>(&req));
    EXPECT_EQ(req.transferred, 2u);
}

namespace {
struct FakeEditor : PortSettingsEditor {
    uint32_t shownRate = 0;
    bool confirm = true;
    bool Edit(const std::string&, uint32_t subtype, platform::SerialSettings& s) override {
        EXPECT_EQ(subtype, kSubtypeRs232);
        shownRate = s.baudRate;
        if (!confirm)
            return false;
        s.parity = platform::Parity::Even;
        s.baudRate = 38400;
        return true;
    }
};
}  // namespace

TEST_F(SerialPortTest, ConfigureOnClosedPortReportsAndKeepsEdits) {
    FakeEditor editor;
    port.SetSettingsEditor(&editor);
    ASSERT_TRUE(port.SetBaudrateFactor(2));
    ASSERT_TRUE(port.SetBaudRate(19200));
    EXPECT_FALSE(port.ConfigureInteractively());
    EXPECT_EQ(editor.shownRate, 19200u) << "the dialog shows the nominal rate";
    EXPECT_EQ(port.StoredRate(), 19200u) << "38400 nominal / factor 2";
    EXPECT_THAT(boxes.Texts(), ElementsAre("Cannot set the parameters."));
    ASSERT_TRUE(port.Open(line.SlavePath(), 38400));
    EXPECT_EQ(port.Settings().parity, platform::Parity::Even);
    EXPECT_TRUE(port.Settings().parityCheck) << "opening turns parity checking on";
}

TEST_F(SerialPortTest, ConfigureOnOpenPortWithoutEditorIsACancelledDialog) {
    ASSERT_TRUE(OpenPort());
    const auto before = port.Settings();
    EXPECT_TRUE(port.ConfigureInteractively());
    EXPECT_EQ(port.Settings(), before);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(SerialPortTest, FlowControlFlagsShapeLineSettings) {
    port.SetFlowControl(2 | 4);
    ASSERT_TRUE(OpenPort());
    const auto& s = port.Settings();
    EXPECT_FALSE(s.dsrOutputFlow);
    EXPECT_EQ(s.dtrControl, platform::LineControl::Disable);
    EXPECT_TRUE(s.ctsOutputFlow);
    EXPECT_EQ(s.rtsControl, platform::LineControl::Handshake);
    EXPECT_TRUE(s.xonXoffOutput && s.xonXoffInput);
    EXPECT_EQ(s.xoffChar, 0x13);
}
