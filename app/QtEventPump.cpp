#include "app/QtEventPump.h"

#include <poll.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <climits>
#include <thread>

#include "platform/Event.h"

namespace app {

namespace {
// Waits for done without consuming it.
bool WaitReadable(platform::Event& done, uint32_t ms) {
    pollfd p{done.fd(), POLLIN, 0};
    const int timeout = ms == platform::kInfinite || ms > INT_MAX ? -1 : static_cast<int>(ms);
    return poll(&p, 1, timeout) > 0 && done.IsSignalled();
}
}  // namespace

bool QtMessagePump::PumpUntil(platform::Event& done, uint32_t ms) {
    QCoreApplication* qapp = QCoreApplication::instance();
    if (qapp == nullptr || QThread::currentThread() != qapp->thread())
        return WaitReadable(done, ms);
    if (done.IsSignalled())
        return true;
    const bool unlimited = ms == platform::kInfinite || ms > INT_MAX;
    QDeadlineTimer deadline = unlimited ? QDeadlineTimer(QDeadlineTimer::Forever)
                                        : QDeadlineTimer(static_cast<qint64>(ms));
    // The notifier only watches the descriptor; the event stays signalled for the waiter.
    QEventLoop loop;
    QSocketNotifier notifier(done.fd(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    while (!done.IsSignalled() && !deadline.hasExpired()) {
        if (!unlimited)
            timer.start(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        loop.exec();
    }
    return done.IsSignalled();
}

void RunKeepingEventsLive(const std::function<void()>& work) {
    platform::Event done(platform::Event::Reset::Manual);
    std::thread worker([&] {
        work();
        done.Set();
    });
    QtMessagePump pump;
    while (!pump.PumpUntil(done, 1000)) {
    }
    worker.join();
}

void QueuedMessageTarget::PostMessage(uint32_t message, intptr_t wParam, intptr_t lParam) {
    QMetaObject::invokeMethod(
        context_,
        [handler = handler_, message, wParam, lParam] { handler(message, wParam, lParam); },
        Qt::QueuedConnection);
}

}  // namespace app
