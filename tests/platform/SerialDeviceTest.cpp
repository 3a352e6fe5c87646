#include "platform/SerialDevice.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/Event.h"
#include "platform/TermiosIo.h"
#include "support/PtyLine.h"

using namespace platform;

TEST(SerialDevice, OpensOnlyExistingTerminals) {
    SerialDevice d;
    EXPECT_FALSE(d.Open("/nonexistent/tty"));
    EXPECT_EQ(d.LastOpenFailure().error, OpenError::NotFound);
    EXPECT_EQ(OpenFailureText(d.LastOpenFailure()), "No such file or directory");
    EXPECT_FALSE(d.Open("/dev/null")) << "not a terminal";
    EXPECT_EQ(d.LastOpenFailure().error, OpenError::NotATerminal);
    EXPECT_FALSE(d.IsOpen());
}

// The message names the process that holds the device's lock, so that the user knows what to
// close; one that only has it open (as a simulator keeps its line) is not the holder.
TEST(SerialDevice, BusyDeviceNamesItsHolder) {
    PtyLine line;
    ASSERT_TRUE(line.ok());
    struct Child {
        pid_t pid = -1;
        int release = -1;  // closed: the child ends
    };
    // A process named name with the device open, locked when lock; started when it says so.
    const auto start = [&](const char* name, bool lock) {
        int ready[2], release[2];
        Child c;
        if (pipe(ready) != 0 || pipe(release) != 0)
            return c;
        c.pid = fork();
        if (c.pid == 0) {
            close(release[1]);
            const int fd = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY);
            prctl(PR_SET_NAME, name);
            char ok = fd >= 0 && (!lock || flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
            (void)!write(ready[1], &ok, 1);
            (void)!read(release[0], &ok, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        char ok = 0;
        if (read(ready[0], &ok, 1) != 1 || ok != 'y')
            c.pid = -1;
        close(ready[0]);
        c.release = release[1];
        return c;
    };
    const Child opener = start("opener", false);  // the lower pid, so a scan meets it first
    const Child holder = start("holder", true);
    ASSERT_GT(opener.pid, 0);
    ASSERT_GT(holder.pid, 0);
    SerialDevice d;
    EXPECT_FALSE(d.Open(line.SlavePath()));
    EXPECT_EQ(OpenFailureText(d.LastOpenFailure()),
              "held by another program (holder, pid " + std::to_string(holder.pid) + ")");
    for (const Child& c : {holder, opener}) {
        close(c.release);
        waitpid(c.pid, nullptr, 0);
    }
    EXPECT_EQ(DeviceHolder(line.SlavePath()), "");
}

TEST(SerialDevice, DeviceLockedByAnotherProgramIsRefusedUntilReleased) {
    PtyLine line;
    ASSERT_TRUE(line.ok());
    // Another program's lock, through a description of its own (exclusive mode does not bind
    // root, the lock does).
    const int other = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    SerialDevice d;
    EXPECT_FALSE(d.Open(line.SlavePath()));
    EXPECT_EQ(d.LastOpenFailure().error, OpenError::Busy);
    // This process is not "another program": no holder is named.
    EXPECT_EQ(OpenFailureText(d.LastOpenFailure()), "held by another program");
    flock(other, LOCK_UN);
    ASSERT_TRUE(d.Open(line.SlavePath()));
    EXPECT_EQ(d.LastOpenFailure().error, OpenError::None);
    // Ours now: the other program is refused until we close.
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    d.Close();
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
}

TEST(SerialDevice, ReadReturnsWhatArrivedWhenTotalTimeoutPasses) {
    PtyLine line;
    ASSERT_TRUE(line.ok());
    SerialDevice d;
    ASSERT_TRUE(d.Open(line.SlavePath()));
    ASSERT_TRUE(d.SetSettings(SerialSettings{}));
    ASSERT_TRUE(d.SetTimeouts({0, 0, 50, 0, 1000}));
    line.Send({1, 2, 3});
    uint8_t buf[10];
    uint32_t got = 0;
    EXPECT_EQ(d.Read(buf, 10, got, -1), TransferStatus::Done);
    ASSERT_EQ(got, 3u);
    EXPECT_EQ(buf[2], 3);
}

TEST(SerialDevice, ImmediateReadTakesOnlyWhatIsBuffered) {
    PtyLine line;
    SerialDevice d;
    ASSERT_TRUE(d.Open(line.SlavePath()));
    ASSERT_TRUE(d.SetTimeouts({kMaxTimeout, 0, 0, 0, 0}));
    uint8_t buf[4];
    uint32_t got = 99;
    EXPECT_EQ(d.Read(buf, 4, got, -1), TransferStatus::Done);
    EXPECT_EQ(got, 0u);
}

TEST(SerialDevice, AbortAndPurgeEndAPendingRead) {
    PtyLine line;
    SerialDevice d;
    ASSERT_TRUE(d.Open(line.SlavePath()));
    ASSERT_TRUE(d.SetTimeouts({0, 0, kMaxTimeout, 0, 0}));
    Event abort(Event::Reset::Manual);
    uint8_t buf[4];
    uint32_t got = 0;
    TransferStatus status = TransferStatus::Done;
    std::thread reader([&] { status = d.Read(buf, 4, got, abort.fd()); });
    line.Send({7});
    SleepMs(50);
    abort.Set();
    reader.join();
    EXPECT_EQ(status, TransferStatus::Aborted);
    EXPECT_EQ(got, 1u) << "bytes moved before the abort are reported";

    std::thread reader2([&] { status = d.Read(buf, 4, got, -1); });
    SleepMs(50);
    d.Purge(kPurgeRxAbort);
    reader2.join();
    EXPECT_EQ(status, TransferStatus::Failed);
    EXPECT_EQ(d.ClearErrors(), 0u) << "a purge is no line error";
}

TEST(SerialDevice, LineGoingAwayFailsPendingReadWithIoError) {
    PtyLine line;
    SerialDevice d;
    ASSERT_TRUE(d.Open(line.SlavePath()));
    ASSERT_TRUE(d.SetTimeouts({0, 0, kMaxTimeout, 0, 0}));
    uint8_t buf[4];
    uint32_t got = 0;
    TransferStatus status = TransferStatus::Done;
    std::thread reader([&] { status = d.Read(buf, 4, got, -1); });
    SleepMs(50);
    line.CloseMaster();
    reader.join();
    EXPECT_EQ(status, TransferStatus::Failed);
    EXPECT_EQ(d.ClearErrors(), static_cast<uint32_t>(kErrIo));
    EXPECT_EQ(d.ClearErrors(), 0u) << "reading the errors clears them";
}

TEST(SerialDevice, EventWaitSeesCharacterAndMaskChange) {
    PtyLine line;
    SerialDevice d;
    ASSERT_TRUE(d.Open(line.SlavePath()));
    ASSERT_TRUE(d.SetEventMask(kEvRxChar));
    uint32_t events = 0;
    std::thread waiter([&] { d.WaitEvent(events, -1); });
    line.Send({0x41});
    waiter.join();
    EXPECT_EQ(events, static_cast<uint32_t>(kEvRxChar));

    uint8_t drain[4];
    ASSERT_TRUE(d.SetTimeouts({kMaxTimeout, 0, 0, 0, 0}));
    uint32_t got;
    d.Read(drain, 4, got, -1);
    events = 99;
    std::thread waiter2([&] { d.WaitEvent(events, -1); });
    SleepMs(50);
    d.SetEventMask(0);
    waiter2.join();
    EXPECT_EQ(events, 0u) << "a new mask ends the wait with no event";
}

TEST(SerialDevice, AnyRateIsAccepted) {
    PtyLine line;
    SerialDevice d;
    ASSERT_TRUE(d.Open(line.SlavePath()));
    SerialSettings s;
    s.baudRate = 28800;  // not a standard termios rate
    s.parity = Parity::Mark;
    EXPECT_TRUE(d.SetSettings(s));
    s.baudRate = 0;
    EXPECT_FALSE(d.SetSettings(s));
}

// Each counter of the driver stands for one fault and sets its own bit, with the desktop's
// value (the messages show the bits in hex); counters of other things set none.
TEST(SerialDevice, EachLineErrorCounterSetsItsOwnBit) {
    const struct {
        const char* counter;
        int serial_icounter_struct::*field;
        uint32_t bit;
    } cases[] = {
        {"buf_overrun", &serial_icounter_struct::buf_overrun, 0x0001},  // input buffer full
        {"overrun", &serial_icounter_struct::overrun, 0x0002},          // lost in the UART
        {"parity", &serial_icounter_struct::parity, 0x0004},
        {"frame", &serial_icounter_struct::frame, 0x0008},
        {"brk", &serial_icounter_struct::brk, 0x0010},
        {"rx", &serial_icounter_struct::rx, 0},
        {"tx", &serial_icounter_struct::tx, 0},
        {"cts", &serial_icounter_struct::cts, 0},
        {"dcd", &serial_icounter_struct::dcd, 0},
    };
    auto bits = [](const serial_icounter_struct& a, const serial_icounter_struct& b) {
        return LineErrorBits(termios_io::CountsOf(a), termios_io::CountsOf(b));
    };
    // Every counter starts from a value of its own, so that one read for another shows.
    serial_icounter_struct before{};
    int start = 100;
    for (const auto& c : cases)
        before.*c.field = start += 7;
    serial_icounter_struct every = before;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.counter);
        serial_icounter_struct after = before;
        ++(after.*c.field);
        ++(every.*c.field);
        EXPECT_EQ(bits(before, after), c.bit);
        // A counter that wraps around has moved too.
        serial_icounter_struct high = before, wrapped = before;
        high.*c.field = -1;
        wrapped.*c.field = 0;
        EXPECT_EQ(bits(high, wrapped), c.bit);
    }
    EXPECT_EQ(bits(before, every), 0x1Fu);
    EXPECT_EQ(bits(every, every), 0u);
}
