#include "trace/WireTrace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace trace {

namespace {
const char kHex[] = "0123456789ABCDEF";

void AppendHexByte(std::string& out, uint8_t b) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
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
    std::lock_guard lock(mutex_);
    if (open_)
        return "a trace is already being written";
    // Named, so that a trace of a run that was killed is still there to read.
    if (!file_.Create(path, platform::ReplacementFile::Temporary::Named))
        return file_.ErrorText();
    path_ = path;
    open_ = true;
    writeFailed_ = false;
    start_ = std::chrono::steady_clock::now();
    for (Run& r : runs_)
        r = Run{};
    out_.clear();
    out_ +=
        "# zimp wire trace: seconds since the start, > sent, < received, what, (bytes): bytes\n";
    return {};
}

bool WireTrace::IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

void WireTrace::Bytes(Direction d, const uint8_t* bytes, size_t n) {
    if (n == 0)
        return;
    std::lock_guard lock(mutex_);
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
}

void WireTrace::Label(Direction d, std::string_view what) {
    std::lock_guard lock(mutex_);
    if (open_)
        EndRun(d, what);
}

void WireTrace::Note(std::string_view text) {
    std::lock_guard lock(mutex_);
    if (!open_)
        return;
    out_ += "# ";
    out_.append(text);
    out_ += '\n';
}

void WireTrace::EndRun(Direction d, std::string_view what) {
    Run& run = runs_[static_cast<int>(d)];
    if (run.bytes.empty())
        return;
    char head[48];
    const int len = std::snprintf(head, sizeof head, "%4llu.%06llu %c ",
                                  static_cast<unsigned long long>(run.startUs / 1000000),
                                  static_cast<unsigned long long>(run.startUs % 1000000),
                                  d == Direction::Sent ? '>' : '<');
    out_.append(head, static_cast<size_t>(len));
    out_.append(what);
    out_ += " (";
    out_ += std::to_string(run.bytes.size());
    out_ += "):";
    for (char c : run.bytes) {
        out_ += ' ';
        AppendHexByte(out_, static_cast<uint8_t>(c));
    }
    out_ += '\n';
    run.bytes.clear();
    if (out_.size() >= kFlushBytes)
        Flush();
}

void WireTrace::Flush() {
    if (out_.empty() || writeFailed_)
        return;
    if (!file_.Write(out_)) {
        // A full disk ends the trace, not the transfer; Close says so.
        writeFailed_ = true;
        writeErrno_ = file_.Error();
    }
    out_.clear();
}

std::string WireTrace::Close() {
    std::lock_guard lock(mutex_);
    if (!open_)
        return {};
    EndRun(Direction::Sent, "raw");
    EndRun(Direction::Received, "raw");
    Flush();
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
