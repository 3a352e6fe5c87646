#include "streams/MessageStreams.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "streams/ConsoleBuffer.h"
#include "streams/MessageBoxBuffer.h"
#include "streams/MessagePresenter.h"

namespace streams {

namespace {

StderrPresenter& DefaultPresenter() {
    static StderrPresenter p;
    return p;
}

std::atomic<MessagePresenter*> g_presenter{nullptr};

std::mutex& LogMutex() {
    static std::mutex m;
    return m;
}
LogSink* g_logSink = nullptr;  // guarded by LogMutex()

}  // namespace

bool PutToAttachedLog(char ch) {
    std::lock_guard lock(LogMutex());
    return g_logSink ? g_logSink->Put(ch) : true;  // unattached: written nowhere
}

std::ostream& msgout() {
    thread_local MessageBoxBuffer buf("ZIMPProtocol");
    thread_local std::ostream stream(&buf);
    return stream;
}

std::ostream& logout() {
    thread_local ConsoleBuffer buf("ZIMPProtocol Log");
    thread_local std::ostream stream(&buf);
    return stream;
}

MessagePresenter* SetMessagePresenter(MessagePresenter* presenter) {
    return g_presenter.exchange(presenter);
}

MessagePresenter& CurrentMessagePresenter() {
    MessagePresenter* p = g_presenter.load();
    return p ? *p : DefaultPresenter();
}

void AttachLogSink(LogSink* sink) {
    std::lock_guard lock(LogMutex());
    g_logSink = sink;
    if (sink)
        sink->SetTitle("ZIMPProtocol Log");
}

bool LogAttached() {
    std::lock_guard lock(LogMutex());
    return g_logSink != nullptr;
}

void StartLogConsole(LogSink* console) {
    AttachLogSink(console);
    logout() << "Start application logout.\n" << std::flush;
}

void ReportOutOfMemory(const char* context, bool failed) {
    if (!failed)
        return;
    // Built without the heap-hungry stream machinery where possible: the heap is what failed.
    std::ostream& out = msgout();
    out.clear();
    out << context << "  Out of memory";
    out.flush();  // shows the box before the process goes
    std::fflush(nullptr);
    std::_Exit(1);
}

}  // namespace streams
