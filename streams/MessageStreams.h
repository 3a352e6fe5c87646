#pragma once
// The process-wide message stream (each line becomes a message box captioned "ZIMPProtocol")
// and log stream (the debug log), and the out-of-memory reporter.
//
// Each thread writes through a stream of its own, so lines from several threads never
// interleave and the formatting state (base, width, fill) persists per thread between
// messages. All of them end up at the one process-wide presenter or log sink.

#include <cstddef>
#include <new>
#include <ostream>
#include <utility>

namespace streams {

class MessagePresenter;
class LogSink;

std::ostream& msgout();
std::ostream& logout();

// Installs the presenter boxes go to (nullptr: back to the stderr presenter). Not owned.
// Returns the one it replaces (nullptr for the stderr presenter).
MessagePresenter* SetMessagePresenter(MessagePresenter* presenter);
MessagePresenter& CurrentMessagePresenter();

// Attaches the log stream to a sink (nullptr: the log goes nowhere). Not owned.
void AttachLogSink(LogSink* sink);
bool LogAttached();
// Attaches the log stream to the debug log console and writes its first line, "Start
// application logout.".
void StartLogConsole(LogSink* console);

// When failed: writes context and "  Out of memory" to the message stream, shows it, and ends
// the process with exit status 1.
void ReportOutOfMemory(const char* context, bool failed);

// The program's own allocations go through these two, so that an exhausted heap is reported
// (context names the owner) and ends the process in one place; neither returns nullptr.
template <class T, class... Args>
T* NewOrExit(const char* context, Args&&... args) {
    T* p = new (std::nothrow) T(std::forward<Args>(args)...);
    ReportOutOfMemory(context, p == nullptr);
    return p;
}
template <class T>
T* NewArrayOrExit(const char* context, size_t n) {
    T* p = new (std::nothrow) T[n];
    ReportOutOfMemory(context, p == nullptr);
    return p;
}

}  // namespace streams
