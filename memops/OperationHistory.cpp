#include "memops/OperationHistory.h"

#include <cstdio>
#include <ctime>

#include "platform/ReplacementFile.h"

namespace memops {

const char* ResultText(OperationResult result) {
    switch (result) {
        case OperationResult::Done:
            return "OK";
        case OperationResult::Failed:
            return "Failed";
        case OperationResult::Cancelled:
            return "Cancelled";
        case OperationResult::Refused:
            return "Refused";
    }
    return "";
}

OperationResult ResultOf(LoadCommand::Outcome outcome, bool cancelled) {
    switch (outcome) {
        case LoadCommand::Outcome::Loaded:
            return OperationResult::Done;
        case LoadCommand::Outcome::Refused:
            return OperationResult::Refused;
        case LoadCommand::Outcome::NotLoaded:
            break;
    }
    return cancelled ? OperationResult::Cancelled : OperationResult::Failed;
}

OperationResult ResultOf(SaveOutcome outcome) {
    switch (outcome) {
        case SaveOutcome::Saved:
            return OperationResult::Done;
        case SaveOutcome::NotOpened:
        case SaveOutcome::Refused:
            return OperationResult::Refused;
        case SaveOutcome::Cancelled:
            return OperationResult::Cancelled;
        case SaveOutcome::Failed:
            break;
    }
    return OperationResult::Failed;
}

OperationResult ResultOf(BootOutcome outcome) {
    switch (outcome) {
        case BootOutcome::Loaded:
            return OperationResult::Done;
        case BootOutcome::NotSent:
            return OperationResult::Refused;
        case BootOutcome::Cancelled:
            return OperationResult::Cancelled;
        case BootOutcome::Failed:
            break;
    }
    return OperationResult::Failed;
}

const char* OperationText(Operation operation) {
    switch (operation) {
        case Operation::Load:
            return "Load";
        case Operation::Save:
            return "Save";
        case Operation::BootLoad:
            return "Boot Load";
        case Operation::TqvBootLoad:
            return "TQV Boot Load";
    }
    return "";
}

OperationTimer::OperationTimer(Operation operation, std::string memory, std::string file)
    : began_(std::chrono::steady_clock::now()) {
    record_.start = std::chrono::system_clock::now();
    record_.operation = operation;
    record_.memory = std::move(memory);
    record_.file = std::move(file);
}

OperationRecord OperationTimer::Finish(OperationResult result, uint64_t bytes) const {
    OperationRecord r = record_;
    r.result = result;
    r.bytes = bytes;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
    return r;
}

std::string GroupedNumber(uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<size_t>(i), 1, ',');
    return digits;
}

std::string DoneText(const OperationRecord& r) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
    const std::string amount = GroupedNumber(r.bytes) + " bytes";
    const std::string took = std::string(" in ") + seconds + " s";
    switch (r.operation) {
        case Operation::Load:
            return "Loaded " + amount + " into " + r.memory + took;
        case Operation::Save:
            return "Saved " + amount + " from " + r.memory + took;
        case Operation::BootLoad:
            return "Boot loaded " + amount + took;
        case Operation::TqvBootLoad:
            return "TQV boot loaded " + amount + took;
    }
    return "";
}

namespace {
std::string Formatted(std::chrono::system_clock::time_point t, const char* format) {
    const std::time_t when = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}
}  // namespace

std::string ClockText(std::chrono::system_clock::time_point t) {
    return Formatted(t, "%H:%M:%S");
}

std::string IsoText(std::chrono::system_clock::time_point t) {
    return Formatted(t, "%Y-%m-%dT%H:%M:%S%z");
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string OperationHistory::Csv() const {
    std::string csv = "time,operation,memory,file,bytes,seconds,outcome,message\r\n";
    for (const OperationRecord& r : rows_) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
        csv += IsoText(r.start) + ',' + OperationText(r.operation) + ',' + CsvField(r.memory) +
               ',' + CsvField(r.file) + ',' + std::to_string(r.bytes) + ',' + seconds + ',' +
               ResultText(r.result) + ',' + CsvField(r.message) + "\r\n";
    }
    return csv;
}

std::string OperationHistory::SaveCsv(const std::string& path) const {
    platform::ReplacementFile out;
    if (!out.Create(path) || !out.Write(Csv()) || !out.Commit())
        return out.ErrorText();
    return {};
}

}  // namespace memops
