// Manual ZIMP and ZIMP Requests against the simulated radio.
#include <poll.h>
#include <unistd.h>

#include <QMenuBar>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <thread>

#include "AppTestSupport.h"
#include "app/CommandTable.h"
#include "app/ManualZimpDialog.h"
#include "app/RequestsDialog.h"

using namespace memops;

using namespace apptest;

namespace {
QString ReplyText(app::ManualZimpDialog* d) {
    return d->reply->toPlainText();
}
}  // namespace

class RadioDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void manualSendsChecksumAndShowsEveryByte();
    void manualRefusesBadCommands();
    void requestReadAppendsTheBytes();
    void abortEndsTheWaitForASilentRadio();
    void everyWaitEndsAtOnceAndSilentlyOnAbort_data();
    void everyWaitEndsAtOnceAndSilentlyOnAbort();
    void reopeningRestoresTheLastValues();
};

void RadioDialogsTest::manualSendsChecksumAndShowsEveryByte() {
    radio::ZimpRadioOptions options;
    options.echo = true;
    RadioRig rig(options);
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    QString reply;
    bool upper = false, disabled = false;
    WhenModal([&](QWidget* d) {
        auto* dialog = qobject_cast<app::ManualZimpDialog*>(d);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Manual ZIMP"));
        QVERIFY(dialog->checkSum->isChecked());
        disabled = !w->menuBar()->isEnabled();
        QTest::keyClicks(dialog->command, QStringLiteral(" F113 "));
        ClickButton(dialog, QStringLiteral("OK"));
        // The echo F1 13 FB, the acknowledgement and the reply frame, as they arrive.
        QTRY_VERIFY(ReplyText(dialog).size() >= 12);
        QTest::qWait(50);
        reply = ReplyText(dialog);
        upper = reply == reply.toUpper();
        ClickButton(dialog, QStringLiteral("Cancel"));
    });
    w->Action(app::kIdRow)->trigger();
    QVERIFY(ModalHandled());
    QVERIFY(disabled);
    QVERIFY(w->menuBar()->isEnabled());
    QVERIFY2(reply.startsWith(QStringLiteral("\n>F113FB50")), qPrintable(reply));
    QVERIFY(upper);
    const auto requests = rig.radio.Requests();
    QCOMPARE(requests.size(), size_t(1));
    QCOMPARE(requests[0].opcode, uint16_t(0xF113));
    QCOMPARE(QString::fromStdString(requests[0].answer), QStringLiteral("ack"));
    QVERIFY(boxes.Texts().isEmpty());
    QCOMPARE(w->ManualZimp().command->text(), QStringLiteral("F113"));
}

void RadioDialogsTest::manualRefusesBadCommands() {
    RadioRig rig;
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    QString reply;
    WhenModal([&](QWidget* d) {
        auto* dialog = qobject_cast<app::ManualZimpDialog*>(d);
        for (const char* text : {"f1 133", "f1 13", "F1130",
                                 "1234567890123456789012345678901234567890"
                                 "1234567890123456789012345678901234567890"
                                 "1234567890123456789012345678901234567890"
                                 "1234567890123456789012345678901234567890"
                                 "1234567890123456789012345678901234567890"
                                 "1234567890123456789012345678901234567890"
                                 "1234567890123456"}) {
            dialog->command->setText(QString::fromLatin1(text));
            ClickButton(dialog, QStringLiteral("OK"));
            QCOMPARE(dialog->focusWidget(), dialog->command);
        }
        QTest::qWait(50);
        reply = ReplyText(dialog);
        ClickButton(dialog, QStringLiteral("Cancel"));
    });
    w->Action(app::kIdRow)->trigger();
    QVERIFY(ModalHandled());
    QCOMPARE(boxes.Texts(), (QStringList{"Characters must be in hex format( 0-9, a-f)",
                                         "The number of caracters must be even",
                                         "The number of caracters must be even",
                                         "Number of caracters must be less than 255"}));
    QCOMPARE(reply, QString());
    QVERIFY(rig.radio.Requests().empty());
}

void RadioDialogsTest::requestReadAppendsTheBytes() {
    RadioRig rig({}, "Echo=0\n");
    rig.radio.Preload(0x1a2b, {0x01, 0xAB, 0x00, 0xFF});
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    w->Action(app::kIdCommands)->trigger();
    app::RequestsDialog& d = w->Requests();
    QCOMPARE(d.windowTitle(), QStringLiteral("ZIMP Requests"));
    QVERIFY(!d.counter->isEnabled());
    QVERIFY(d.data->isEnabled());  // "Write Data" at first
    QStringList seen;
    connect(&d, &app::RequestsDialog::statusText, this, [&] { seen << w->StatusText(); });
    d.requests->button(int(ZimpRequest::Read))->click();
    QVERIFY(d.counter->isEnabled());
    QVERIFY(!d.data->isEnabled());
    d.address->setText(QStringLiteral("1a2b"));
    d.counter->setText(QStringLiteral("4"));
    QTest::mouseClick(d.ok, Qt::LeftButton);
    QCOMPARE(seen, (QStringList{"Waiting Response", "Ready"}));
    QCOMPARE(d.response->toPlainText(), QStringLiteral("\n>01AB00FF"));
    QCOMPARE(d.address->text(), QStringLiteral("001a2b"));
    QVERIFY(d.ok->isEnabled());
    QVERIFY(boxes.Texts().isEmpty());
    QTest::mouseClick(d.cancel, Qt::LeftButton);
    QVERIFY(!d.isVisible());
}

void RadioDialogsTest::abortEndsTheWaitForASilentRadio() {
    // A radio that acknowledges the request and then says nothing: the reply wait keeps the
    // window live until "Abort Req" or Cancel ends it. Without them it would end by its
    // time-out, with a box.
    RadioRig rig({}, "Echo=0\n", false);
    std::atomic<int> received{0};
    std::thread peer([&] {
        const int fd = rig.pty.MasterFd();
        for (int i = 0; i < 100 && received == 0; ++i) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                uint8_t buf[64];
                const ssize_t n = read(fd, buf, sizeof buf);
                if (n > 0) {
                    received = static_cast<int>(n);
                    const uint8_t ack = 0x50;
                    QCOMPARE(write(fd, &ack, 1), ssize_t(1));
                }
            }
        }
    });
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    w->Action(app::kIdCommands)->trigger();
    app::RequestsDialog& d = w->Requests();
    d.requests->button(int(ZimpRequest::Status))->click();
    bool busyDuringWait = false, okDisabled = false, waitCursor = false;
    QString statusDuringWait;
    bool stayedOpen = false;
    QTimer::singleShot(200, [&] {
        busyDuringWait = d.IsBusy();
        okDisabled = !d.ok->isEnabled();
        statusDuringWait = w->StatusText();
        waitCursor = QApplication::overrideCursor() &&
                     QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        QTest::mouseClick(d.ok, Qt::LeftButton);      // ignored while the request runs
        QTest::mouseClick(d.cancel, Qt::LeftButton);  // only aborts
        stayedOpen = d.isVisible();
    });
    QTest::mouseClick(d.ok, Qt::LeftButton);
    QVERIFY(busyDuringWait);
    QVERIFY(okDisabled);
    QVERIFY(waitCursor);
    QCOMPARE(statusDuringWait, QStringLiteral("Waiting Response"));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(stayedOpen);
    QVERIFY(d.isVisible());
    QVERIFY(!d.IsBusy());
    peer.join();
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join("|")));
    QVERIFY(received > 0);
    QCOMPARE(w->StatusText(), QStringLiteral("Ready"));
    QTest::mouseClick(d.cancel, Qt::LeftButton);
    QVERIFY(!d.isVisible());
}

void RadioDialogsTest::everyWaitEndsAtOnceAndSilentlyOnAbort_data() {
    QTest::addColumn<bool>("acknowledge");  // the peer acknowledges the first frame, then nothing
    QTest::addColumn<int>("request");
    QTest::addColumn<bool>("viaCancel");
    QTest::newRow("ack wait, Abort Req") << false << int(ZimpRequest::Status) << false;
    QTest::newRow("ack wait, Cancel") << false << int(ZimpRequest::Status) << true;
    QTest::newRow("reply wait, Abort Req") << true << int(ZimpRequest::Status) << false;
    QTest::newRow("write response wait, Abort Req") << true << int(ZimpRequest::WriteData) << false;
}

// A silent radio: whichever wait the request is in, "Abort Req" (or Cancel) ends it while the
// window stays live, without a box. Had it not reached the wait, the wait would have ended by
// its time-out, with "ACK Timeout Error." or "Reply Timeout.".
void RadioDialogsTest::everyWaitEndsAtOnceAndSilentlyOnAbort() {
    QFETCH(bool, acknowledge);
    QFETCH(int, request);
    QFETCH(bool, viaCancel);
    RadioRig rig({}, "Echo=0\nLastData=a1b2\n", false);
    std::atomic<bool> received{false}, stop{false};
    std::thread peer([&] {
        const int fd = rig.pty.MasterFd();
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            uint8_t buf[64];
            if (poll(&p, 1, 20) > 0 && read(fd, buf, sizeof buf) > 0 && !received.exchange(true) &&
                acknowledge) {
                const uint8_t ack = 0x50;
                (void)!write(fd, &ack, 1);
            }
        }
    });
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    w->Action(app::kIdCommands)->trigger();
    app::RequestsDialog& d = w->Requests();
    d.requests->button(request)->click();
    bool busyWhenPressed = false;
    QTimer::singleShot(300, &d, [&] {
        busyWhenPressed = d.IsBusy();
        QTest::mouseClick(viaCancel ? d.cancel : d.abortRequest, Qt::LeftButton);
    });
    QTest::mouseClick(d.ok, Qt::LeftButton);
    stop = true;
    peer.join();
    QVERIFY(received);
    QVERIFY(busyWhenPressed);
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join("|")));
    QVERIFY(!d.IsBusy());
    QVERIFY(d.ok->isEnabled());
    QTest::mouseClick(d.cancel, Qt::LeftButton);
}

void RadioDialogsTest::reopeningRestoresTheLastValues() {
    RadioRig rig({}, "Echo=0\n");
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    app::RequestsDialog& d = w->Requests();
    w->Action(app::kIdCommands)->trigger();
    d.requests->button(int(ZimpRequest::Read))->click();
    d.address->setText(QStringLiteral("2b"));
    d.counter->setText(QStringLiteral("3"));
    d.data->setText(QStringLiteral("a1b2"));
    QTest::mouseClick(d.ok, Qt::LeftButton);
    QTest::mouseClick(d.cancel, Qt::LeftButton);
    QVERIFY(
        QString::fromStdString(rig.Ini()).contains("LastAddress=00002b\nLastData=a1b2\n"
                                                   "LastCounter=3\n"));
    w->Action(app::kIdCommands)->trigger();
    QVERIFY(d.isVisible());
    QCOMPARE(d.address->text(), QStringLiteral("00002b"));
    QCOMPARE(d.counter->text(), QStringLiteral("3"));
    QCOMPARE(d.data->text(), QStringLiteral("a1b2"));
    QVERIFY(d.requests->button(int(ZimpRequest::Read))->isChecked());
    QVERIFY(!d.counter->isEnabled());
    QCOMPARE(d.response->toPlainText(), QString());
    QTest::mouseClick(d.cancel, Qt::LeftButton);
}

QTEST_MAIN(RadioDialogsTest)
#include "RadioDialogsTest.moc"
