#pragma once
// How a wait keeps a user interface live: the front end dispatches its own events until the
// awaited event is signalled. The command line and the tests have none.

#include <cstdint>

namespace platform {

class Event;

class MessagePump {
  public:
    virtual ~MessagePump() = default;
    // Dispatches the calling thread's events until done is signalled (it must not consume it)
    // or ms milliseconds have passed. Returns true when done was signalled.
    virtual bool PumpUntil(Event& done, uint32_t ms) = 0;
};

// Receiver of posted completion messages; the implementation decides on which thread it
// handles them.
class MessageTarget {
  public:
    virtual ~MessageTarget() = default;
    virtual void PostMessage(uint32_t message, intptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace platform
