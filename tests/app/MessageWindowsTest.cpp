// The message stream's boxes and the log console, written from the GUI thread and from others.
#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <thread>

#include "AppTestSupport.h"
#include "app/LogConsole.h"
#include "app/QtEventPump.h"
#include "app/QtMessagePresenter.h"
#include "platform/Event.h"
#include "streams/MessageStreams.h"

using namespace streams;

using namespace apptest;

class MessageWindowsTest : public QObject {
    Q_OBJECT
  private slots:
    void boxFromAWorkerBlocksItUntilClosed();
    void boxOnTheGuiThreadIsShownDirectly();
    void logLinesFromTwoThreadsArriveInOrder();
    void pumpKeepsTheLoopLiveAndLeavesTheEvent();
    void pumpOnAWorkerOnlyWaits();
};

namespace {
struct InstalledPresenter {
    app::QtMessagePresenter presenter;
    InstalledPresenter() { SetMessagePresenter(&presenter); }
    ~InstalledPresenter() { SetMessagePresenter(nullptr); }
};

}  // namespace

void MessageWindowsTest::boxFromAWorkerBlocksItUntilClosed() {
    InstalledPresenter installed;
    std::atomic<bool> returned{false};
    bool waitedForUser = false;
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::WindowModality modality = Qt::NonModal;
    // The box runs its own event loop: it is inspected and closed from there.
    WhenModal([&](QWidget* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        QVERIFY(box);
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        modality = box->windowModality();
        QTest::qWait(50);
        waitedForUser = !returned;
        box->button(QMessageBox::Ok)->click();
    });
    std::thread worker([&] {
        msgout() << "first\rsecond\n";
        returned = true;
    });
    QTRY_VERIFY(returned);
    worker.join();
    QVERIFY(ModalHandled());
    QVERIFY(waitedForUser);
    QCOMPARE(text, QStringLiteral("first\nsecond"));
    QCOMPARE(caption, QStringLiteral("ZIMPProtocol"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(modality, Qt::ApplicationModal);
}

void MessageWindowsTest::boxOnTheGuiThreadIsShownDirectly() {
    InstalledPresenter installed;
    QString text;
    WhenModal([&](QWidget* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        QVERIFY(box);
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    msgout() << "on the GUI thread\n";
    QVERIFY(ModalHandled());
    QCOMPARE(text, QStringLiteral("on the GUI thread"));
}

void MessageWindowsTest::logLinesFromTwoThreadsArriveInOrder() {
    app::LogConsole console;
    StartLogConsole(&console);
    constexpr int kLines = 200;
    auto writer = [](char name) {
        for (int i = 0; i < kLines; ++i)
            logout() << name << " line " << i << '\n';
        logout().flush();
    };
    std::thread a(writer, 'A'), b(writer, 'B');
    a.join();
    b.join();
    AttachLogSink(nullptr);
    QTRY_COMPARE(console.TextBox()->blockCount(), 1 + 2 * kLines);
    const QStringList lines = console.Text().split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("Start application logout."));
    int next[2] = {0, 0};
    for (int i = 1; i < lines.size(); ++i) {
        const QString& l = lines[i];
        const int who = l.startsWith(QLatin1Char('A')) ? 0 : 1;
        QCOMPARE(l, QStringLiteral("%1 line %2").arg(QChar(who ? 'B' : 'A')).arg(next[who]++));
    }
    QCOMPARE(next[0], kLines);
    QCOMPARE(next[1], kLines);
    // The console keeps the last 500 lines.
    for (int i = 0; i < 600; ++i)
        console.Put('x'), console.Put('\n');
    QTRY_COMPARE(console.TextBox()->blockCount(), app::LogConsole::kLines);
}

void MessageWindowsTest::pumpKeepsTheLoopLiveAndLeavesTheEvent() {
    app::QtMessagePump pump;
    platform::Event done;  // auto-reset: a pump that consumed it would leave the waiter hanging
    bool ranDuringWait = false;
    QTimer::singleShot(0, [&] {
        ranDuringWait = true;
        done.Set();
    });
    QVERIFY(pump.PumpUntil(done, 5000));
    QVERIFY(ranDuringWait);
    QVERIFY(done.IsSignalled());
    platform::Event never;
    QVERIFY(!pump.PumpUntil(never, 20));
}

void MessageWindowsTest::pumpOnAWorkerOnlyWaits() {
    app::QtMessagePump pump;
    platform::Event done;
    bool ranDuringWait = false;
    QTimer::singleShot(0, [&] { ranDuringWait = true; });
    bool first = true, second = false;
    std::thread worker([&] {
        first = pump.PumpUntil(done, 20);
        done.Set();
        second = pump.PumpUntil(done, 5000);
    });
    worker.join();
    QVERIFY(!first);
    QVERIFY(second);
    QVERIFY(done.IsSignalled());
    QVERIFY(!ranDuringWait);  // the GUI thread's events were not run by the worker
}

QTEST_MAIN(MessageWindowsTest)
#include "MessageWindowsTest.moc"
