#pragma once
// Stream buffer of the debug log: every character goes straight to the log sink.

#include <streambuf>

#include "streams/CharQueue.h"

namespace streams {

class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void SetTitle(const char* title) = 0;
    // Writes one character; false when the sink refuses it.
    virtual bool Put(char ch) = 0;
};

// Writes the log to stderr (the command line's --debug).
class StderrLogSink : public LogSink {
  public:
    void SetTitle(const char*) override {}
    bool Put(char ch) override;
};

class ConsoleBuffer : public std::streambuf {
  public:
    // sink == nullptr: the process-wide log sink, if one is attached, else nowhere.
    explicit ConsoleBuffer(const char* title, LogSink* sink = nullptr);
    ~ConsoleBuffer() override = default;

  protected:
    int_type overflow(int_type ch) override;
    int sync() override { return 0; }
    int_type underflow() override { return 0; }

  private:
    const char* title_;
    CharQueue queue_;  // carried for layout's sake; the console needs no queue
    LogSink* sink_;
};

}  // namespace streams
