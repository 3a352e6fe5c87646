#include "cli/PortRecord.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace cli {

const char* OutcomeName(PortOutcome outcome) {
    switch (outcome) {
        case PortOutcome::Succeeded:
            return "ok";
        case PortOutcome::Cancelled:
            return "cancelled";
        case PortOutcome::Failed:
            break;
    }
    return "failed";
}

namespace {
std::string UtcText(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

nlohmann::json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}
}  // namespace

nlohmann::json RecordJson(const PortRecord& r) {
    nlohmann::json j;
    j["start"] = UtcText(r.start);
    j["end"] = UtcText(r.end);
    j["port"] = r.port;
    j["by_id"] = TextOrNull(r.byId);
    j["operation"] = r.operation;
    j["memory"] = TextOrNull(r.memory);
    j["file"] = TextOrNull(r.file);
    j["sha256"] = TextOrNull(r.sha256);
    j["outcome"] = OutcomeName(r.outcome);
    j["bytes"] = r.bytes;
    j["seconds"] = static_cast<double>(static_cast<int64_t>(r.seconds * 1000 + 0.5)) / 1000;
    j["message"] = TextOrNull(r.message);
    if (r.serial)
        j["serial"] = *r.serial;
    return j;
}

std::string SummaryTable(const std::vector<PortRecord>& records) {
    const bool anySerial = std::any_of(records.begin(), records.end(),
                                       [](const PortRecord& r) { return r.serial.has_value(); });
    size_t portWidth = 4, idWidth = 5;
    for (const PortRecord& r : records) {
        portWidth = std::max(portWidth, r.port.size());
        idWidth = std::max(idWidth, r.byId.empty() ? 1 : r.byId.size());
    }
    auto row = [&](const std::string& port, const std::string& id, const std::string& outcome,
                   const std::string& bytes, const std::string& time, const std::string& serial,
                   const std::string& message) {
        char cells[64];
        std::string line = port + std::string(portWidth - port.size() + 2, ' ') + id +
                           std::string(idWidth - id.size() + 2, ' ');
        std::snprintf(cells, sizeof cells, "%-9s  %10s  %7s", outcome.c_str(), bytes.c_str(),
                      time.c_str());
        line += cells;
        if (anySerial) {
            std::snprintf(cells, sizeof cells, "  %10s", serial.c_str());
            line += cells;
        }
        if (!message.empty())
            line += "  " + message;
        return line + "\n";
    };
    std::string table = row("PORT", "BY-ID", "OUTCOME", "BYTES", "TIME", "SERIAL", "MESSAGE");
    for (const PortRecord& r : records) {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f s", r.seconds);
        table += row(r.port, r.byId.empty() ? "-" : r.byId, OutcomeName(r.outcome),
                     std::to_string(r.bytes), time, r.serial ? std::to_string(*r.serial) : "-",
                     r.message);
    }
    return table;
}

}  // namespace cli
