#include "trace/TraceSummary.h"

#include <charconv>
#include <cstdio>

namespace trace {

namespace {
bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string Seconds(uint64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(us / 1000000),
                  static_cast<unsigned long long>(us % 1000000));
    return text;
}

std::string Millis(uint64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(us) / 1000.0);
    return text;
}
}  // namespace

std::optional<TraceLine> ParseTraceLine(std::string_view text, size_t number) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (text.empty() || text.front() == '#')
        return std::nullopt;
    TraceLine line;
    line.number = number;
    // "SECONDS.MICROS D WHAT (N): HEX"
    uint64_t seconds = 0, micros = 0;
    const char* p = text.data();
    const char* end = text.data() + text.size();
    auto r = std::from_chars(p, end, seconds);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != '.')
        return std::nullopt;
    const char* fraction = r.ptr + 1;
    r = std::from_chars(fraction, end, micros);
    if (r.ec != std::errc() || r.ptr - fraction != 6 || seconds > 1000000000ull)
        return std::nullopt;
    line.us = seconds * 1000000 + micros;
    std::string_view rest(r.ptr, static_cast<size_t>(end - r.ptr));
    if (rest.size() < 3 || rest[0] != ' ' || (rest[1] != '>' && rest[1] != '<') || rest[2] != ' ')
        return std::nullopt;
    line.direction = rest[1] == '>' ? Direction::Sent : Direction::Received;
    rest.remove_prefix(3);
    const size_t colon = rest.find("):");
    const size_t open = colon == std::string_view::npos ? colon : rest.rfind(" (", colon);
    if (open == std::string_view::npos || open == 0)
        return std::nullopt;
    line.what = std::string(rest.substr(0, open));
    const std::string_view count = rest.substr(open + 2, colon - open - 2);
    r = std::from_chars(count.data(), count.data() + count.size(), line.count);
    if (r.ec != std::errc() || r.ptr != count.data() + count.size())
        return std::nullopt;
    std::string_view hex = rest.substr(colon + 2);
    while (!hex.empty() && hex.front() == ' ')
        hex.remove_prefix(1);
    line.bytes = std::string(hex);
    return line;
}

void TraceSummarizer::Add(const TraceLine& line) {
    TraceSummary& s = summary_;
    const std::string_view what = line.what;
    if (line.direction == Direction::Sent)
        s.bytesSent += line.count;
    else
        s.bytesReceived += line.count;
    if (StartsWith(what, "request")) {
        ++s.requests;
        if (line.bytes == lastRequest_)
            ++s.retries;
        lastRequest_ = line.bytes;
    } else if (StartsWith(what, "reply")) {
        ++s.replies;
    } else if (what == "ack") {
        ++s.acks;
    } else if (StartsWith(what, "NAK")) {
        ++s.naks;
    } else if (what == "echo") {
        ++s.echoes;
    } else if (StartsWith(what, "garbage")) {
        ++s.garbage;
    } else {
        ++s.raw;
    }
    if (previous_ && previous_->direction == Direction::Sent &&
        line.direction == Direction::Received && line.us >= previous_->us) {
        const uint64_t wait = line.us - previous_->us;
        if (!s.longestWaitBefore || wait > s.longestWaitUs) {
            s.longestWaitUs = wait;
            s.longestWaitBefore = line;
            s.longestWaitAfter = previous_->what;
        }
    }
    previous_ = line;
}

bool ShowTrace(std::istream& in, std::ostream& out, size_t maxLine) {
    TraceSummarizer summarizer;
    std::optional<uint64_t> last;
    size_t number = 0, lines = 0;
    std::string text;
    for (;;) {
        // getline under a limit: a line that never ends cannot take all memory.
        text.clear();
        bool tooLong = false;
        int c = 0;
        while ((c = in.get()) != EOF && c != '\n') {
            if (text.size() < maxLine)
                text += static_cast<char>(c);
            else
                tooLong = true;
        }
        if (c == EOF && text.empty())
            break;
        ++number;
        if (tooLong) {
            summarizer.AddMalformed();
            continue;
        }
        const std::optional<TraceLine> line = ParseTraceLine(text, number);
        if (!line) {
            const size_t first = text.find_first_not_of(" \t\r");
            if (first != std::string::npos && text[first] != '#')
                summarizer.AddMalformed();
            continue;
        }
        ++lines;
        const uint64_t gap = last && line->us >= *last ? line->us - *last : 0;
        last = line->us;
        // The first 16 bytes: the whole frame is in the file.
        std::string bytes = line->bytes.substr(0, 16 * 3 - 1);
        if (line->count > 16)
            bytes += " ... (" + std::to_string(line->count - 16) + " more)";
        char gapText[32];
        std::snprintf(gapText, sizeof gapText, "+%10.3f ms", static_cast<double>(gap) / 1000.0);
        out << gapText << "  " << Seconds(line->us) << ' '
            << (line->direction == Direction::Sent ? '>' : '<') << ' ' << line->what << " ("
            << line->count << "): " << bytes << '\n';
        summarizer.Add(*line);
    }
    const TraceSummary& s = summarizer.Summary();
    out << "\nframes: " << s.requests + s.replies << " (" << s.requests << " requests, "
        << s.replies << " replies), " << s.acks << " acks, " << s.naks << " NAKs, " << s.echoes
        << " echoes, " << s.raw << " raw runs, " << s.garbage << " garbage\n";
    out << "retries: " << s.retries << '\n';
    out << "bytes: " << s.bytesSent << " sent, " << s.bytesReceived << " received\n";
    if (s.longestWaitBefore)
        out << "longest wait: " << Millis(s.longestWaitUs) << " for \"" << s.longestWaitBefore->what
            << "\" at " << Seconds(s.longestWaitBefore->us) << " s (line "
            << s.longestWaitBefore->number << "), after \"" << s.longestWaitAfter << "\"\n";
    if (s.malformed)
        out << "lines that are not trace lines: " << s.malformed << '\n';
    return lines > 0;
}

}  // namespace trace
