#pragma once
// What became of one radio in a run over several ports: a row of the summary table and a
// record of the report.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace cli {

enum class PortOutcome { Succeeded, Failed, Cancelled };
// "ok", "failed", "cancelled".
const char* OutcomeName(PortOutcome outcome);

struct PortRecord {
    std::string port;  // as given
    std::string byId;  // its name under /dev/serial/by-id, or empty
    std::string operation, memory;
    std::string file;    // the image loaded or verified, or the file saved
    std::string sha256;  // of file (a save's once it is complete), or empty
    std::chrono::system_clock::time_point start, end;
    double seconds = 0;
    uint64_t bytes = 0;
    PortOutcome outcome = PortOutcome::Failed;
    std::string message;  // the port's messages, "; " between them
    std::optional<uint32_t> serial;
};

// One line of JSON Lines: times in UTC to the millisecond, missing texts as null.
nlohmann::json RecordJson(const PortRecord& record);
// The summary table: a header and one row per record, each line ending in '\n'.
std::string SummaryTable(const std::vector<PortRecord>& records);

}  // namespace cli
