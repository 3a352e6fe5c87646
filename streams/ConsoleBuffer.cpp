#include "streams/ConsoleBuffer.h"

#include <cstdio>

#include "streams/MessageStreams.h"

namespace streams {

bool StderrLogSink::Put(char ch) {
    return std::fputc(ch, stderr) != EOF;
}

ConsoleBuffer::ConsoleBuffer(const char* title, LogSink* sink)
    : title_(title), queue_(80, 0xFFFF), sink_(sink) {
    if (sink_)
        sink_->SetTitle(title_);
}

// Defined in MessageStreams.cpp: writes one character to the attached sink, if any.
bool PutToAttachedLog(char ch);

ConsoleBuffer::int_type ConsoleBuffer::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    char c = traits_type::to_char_type(ch);
    bool ok = sink_ ? sink_->Put(c) : PutToAttachedLog(c);
    return ok ? static_cast<unsigned char>(c) : traits_type::eof();
}

}  // namespace streams
