#pragma once
// The core's waits and completion messages on Qt: a pump that keeps the GUI thread's event
// loop running while the core waits, and a target that moves a worker's message onto the
// thread of a QObject.

#include <QObject>
#include <QPointer>
#include <functional>

#include "platform/MessagePump.h"

namespace app {

class QtMessagePump : public platform::MessagePump {
  public:
    // On the GUI thread: runs the event loop until done is signalled or ms passed, never
    // consuming done. On any other thread: only waits.
    bool PumpUntil(platform::Event& done, uint32_t ms) override;
};

// Runs work, a blocking procedure of the core, on a thread of its own and keeps this thread's
// event loop going until it returns: the windows stay live, and their Cancel reaches the
// procedure's own. The one way the desktop runs a procedure off the GUI thread.
void RunKeepingEventsLive(const std::function<void()>& work);

// Hands each posted message to handler on the context object's thread; messages still queued
// when the context goes are dropped.
class QueuedMessageTarget : public platform::MessageTarget {
  public:
    using Handler = std::function<void(uint32_t message, intptr_t wParam, intptr_t lParam)>;
    QueuedMessageTarget(QObject* context, Handler handler)
        : context_(context), handler_(std::move(handler)) {}
    void PostMessage(uint32_t message, intptr_t wParam, intptr_t lParam) override;

  private:
    QObject* context_;
    Handler handler_;
};

}  // namespace app
