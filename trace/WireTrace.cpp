#include "trace/WireTrace.h"

#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/HexText.h"

namespace trace {

namespace {
void AppendHexByte(std::string& out, uint8_t b) {
    platform::AppendHex(out, &b, 1);
}

// " XX" for each byte, in one pass over a string grown once: the trace's hot path.
void AppendHexBytes(std::string& out, std::string_view bytes) {
    const size_t at = out.size();
    out.resize(at + 3 * bytes.size());
    char* p = out.data() + at;
    for (unsigned char b : bytes) {
        *p++ = ' ';
        p = platform::PutHexDigits(p, b, 2);
    }
}
template <typename T>
void AppendField(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T TakeField(const std::string& in, size_t& at) {
    T value{};
    std::memcpy(&value, in.data() + at, sizeof value);
    at += sizeof value;
    return value;
}

// The text of the records EndRun and Note put in a piece.
std::string TextOf(const std::string& records) {
    std::string text;
    text.reserve(records.size() * 3 + 64);
    for (size_t at = 0; at < records.size();) {
        const char kind = records[at++];
        if (kind == 'N') {
            const auto n = TakeField<uint32_t>(records, at);
            text += "# ";
            text.append(records, at, n);
            text += '\n';
            at += n;
            continue;
        }
        const auto us = TakeField<uint64_t>(records, at);
        const auto labelLength = TakeField<uint32_t>(records, at);
        const size_t label = at;
        at += labelLength;
        const auto n = TakeField<uint32_t>(records, at);
        char head[48];
        const int len = std::snprintf(
            head, sizeof head, "%4llu.%06llu %c ", static_cast<unsigned long long>(us / 1000000),
            static_cast<unsigned long long>(us % 1000000), kind == 'S' ? '>' : '<');
        text.append(head, static_cast<size_t>(len));
        text.append(records, label, labelLength);
        text += " (";
        text += std::to_string(n);
        text += "):";
        AppendHexBytes(text, std::string_view(records).substr(at, n));
        text += '\n';
        at += n;
    }
    return text;
}
}  // namespace

WireTrace::~WireTrace() {
    (void)Close();
}

uint64_t WireTrace::NowUs() const {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
}

std::string WireTrace::Open(const std::string& path) {
    std::unique_lock lock(mutex_);
    if (open_)
        return "a trace is already being written";
    // Named, so that a trace of a run that was killed is still there to read.
    if (!file_.Create(path, platform::ReplacementFile::Temporary::Named))
        return file_.ErrorText();
    path_ = path;
    open_ = true;
    writeFailed_ = false;
    stop_ = pending_ = false;
    writer_ = std::thread([this] { Writer(); });
    start_ = std::chrono::steady_clock::now();
    for (Run& r : runs_)
        r = Run{};
    out_.clear();
    lock.unlock();
    Note("zimp wire trace: seconds since the start, > sent, < received, what, (bytes): bytes");
    return {};
}

bool WireTrace::IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

void WireTrace::Bytes(Direction d, const uint8_t* bytes, size_t n) {
    if (n == 0)
        return;
    std::unique_lock lock(mutex_);
    if (!open_)
        return;
    const uint64_t now = NowUs();
    Run& other = runs_[1 - static_cast<int>(d)];
    if (!other.bytes.empty())
        EndRun(d == Direction::Sent ? Direction::Received : Direction::Sent, "raw");
    Run& run = runs_[static_cast<int>(d)];
    if (!run.bytes.empty() && now - run.lastUs > kRunPauseUs)
        EndRun(d, "raw");
    if (run.bytes.empty())
        run.startUs = now;
    run.lastUs = now;
    run.bytes.append(reinterpret_cast<const char*>(bytes), n);
    if (out_.size() >= kFlushBytes)
        Flush(lock);
}

void WireTrace::Label(Direction d, std::string_view what) {
    std::unique_lock lock(mutex_);
    if (!open_)
        return;
    EndRun(d, what);
    if (out_.size() >= kFlushBytes)
        Flush(lock);
}

void WireTrace::Note(std::string_view text) {
    std::lock_guard lock(mutex_);
    if (!open_)
        return;
    out_ += 'N';
    AppendField(out_, static_cast<uint32_t>(text.size()));
    out_.append(text);
}

void WireTrace::EndRun(Direction d, std::string_view what) {
    Run& run = runs_[static_cast<int>(d)];
    if (run.bytes.empty())
        return;
    // Kept as it came; the writer's thread makes the text, off the transfer's.
    out_ += d == Direction::Sent ? 'S' : 'R';
    AppendField(out_, run.startUs);
    AppendField(out_, static_cast<uint32_t>(what.size()));
    out_.append(what);
    AppendField(out_, static_cast<uint32_t>(run.bytes.size()));
    out_.append(run.bytes);
    run.bytes.clear();
}

void WireTrace::Flush(std::unique_lock<std::mutex>& lock) {
    if (out_.empty())
        return;
    if (pending_ && out_.size() < kMaxBehind)
        return;  // the writer is busy: the next piece grows meanwhile
    if (pending_ &&
        !room_.wait_for(lock, std::chrono::milliseconds(kStallMs), [this] { return !pending_; })) {
        // A disk that cannot keep up at all ends the trace, not the transfer.
        writeFailed_ = true;
        writeErrno_ = ETIMEDOUT;
        out_.clear();
        return;
    }
    std::swap(out_, writing_);
    out_.clear();
    pending_ = true;
    wake_.notify_one();
}

void WireTrace::Writer() {
    // Only time nobody else wants: the transfer's threads (and a simulated radio's) come
    // first, and the pieces wait in memory meanwhile.
    sched_param idle{};
    (void)pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return pending_ || stop_; });
        if (!pending_)
            return;
        std::string piece;
        piece.swap(writing_);
        const bool failed = writeFailed_;
        lock.unlock();
        const bool ok = failed || file_.Write(TextOf(piece));
        const int error = ok ? 0 : file_.Error();
        piece.clear();
        lock.lock();
        if (!ok && !writeFailed_) {
            // A full disk ends the trace, not the transfer; Close says so.
            writeFailed_ = true;
            writeErrno_ = error;
        }
        writing_.swap(piece);  // its capacity serves the next piece
        pending_ = false;
        room_.notify_all();
    }
}

std::string WireTrace::Close() {
    std::unique_lock lock(mutex_);
    if (!open_)
        return {};
    EndRun(Direction::Sent, "raw");
    EndRun(Direction::Received, "raw");
    // The last pieces, then the writer ends.
    const auto written = [this] { return !pending_; };
    const auto stall = std::chrono::milliseconds(kStallMs);
    while (!out_.empty() && !writeFailed_) {
        if (!room_.wait_for(lock, stall, written))
            break;
        Flush(lock);
    }
    if (!room_.wait_for(lock, stall, written) && !writeFailed_) {
        writeFailed_ = true;
        writeErrno_ = ETIMEDOUT;
    }
    stop_ = true;
    wake_.notify_one();
    lock.unlock();
    writer_.join();
    lock.lock();
    out_.clear();
    open_ = false;
    if (writeFailed_) {
        file_.Discard();
        return std::strerror(writeErrno_);
    }
    if (!file_.Commit())
        return file_.ErrorText();
    return {};
}

std::string RequestName(const uint8_t* frame, size_t n) {
    if (n >= 2 && (frame[0] & 0xF0) == 0xF0) {
        switch (frame[1]) {
            case 0x11:
                return "Read";
            case 0x12:
                return "Checksum";
            case 0x13:
                return "Configuration";
            case 0x14:
                return "Status";
            case 0x15:
                return "Erase Flash";
            case 0x16:
                return "Zero Flash";
            case 0x17:
                return "Write Data";
            default:
                break;
        }
    }
    std::string name;
    for (size_t i = 0; i < n && i < 2; ++i) {
        if (i)
            name += ' ';
        AppendHexByte(name, frame[i]);
    }
    return name;
}

std::string ReplyName(uint16_t opcode) {
    switch (opcode & 0xFF) {
        case 0x80:
            return "Read";
        case 0x81:
            return "Checksum";
        case 0x82:
            return "Configuration";
        case 0x83:
            return "Status";
        case 0x84:
            return "Written";
        case 0x85:
            return "Bad Write";
        case 0x86:
            return "Unsupported";
        default:
            break;
    }
    std::string name;
    AppendHexByte(name, static_cast<uint8_t>(opcode >> 8));
    name += ' ';
    AppendHexByte(name, static_cast<uint8_t>(opcode));
    return name;
}

}  // namespace trace
