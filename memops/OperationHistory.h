#pragma once
// This run's operations, one record each, newest last: what the desktop shows under its menus
// and saves as CSV, and the line the status bar shows after one that succeeded.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "memops/BootOutcome.h"
#include "memops/LoadCommand.h"
#include "memops/SaveCommand.h"

namespace memops {

enum class OperationResult { Done, Failed, Cancelled, Refused };

// "OK", "Failed", "Cancelled", "Refused".
const char* ResultText(OperationResult result);
// A load that did not load was cancelled when the user asked for it, else it failed.
OperationResult ResultOf(LoadCommand::Outcome outcome, bool cancelled);
OperationResult ResultOf(SaveOutcome outcome);
OperationResult ResultOf(BootOutcome outcome);

enum class Operation { Load, Save, BootLoad, TqvBootLoad };
// "Load", "Save", "Boot Load", "TQV Boot Load".
const char* OperationText(Operation operation);

struct OperationRecord {
    std::chrono::system_clock::time_point start;
    Operation operation = Operation::Load;
    std::string memory;  // "Flash"; empty for a boot load
    std::string file;
    uint64_t bytes = 0;
    double seconds = 0;
    OperationResult result = OperationResult::Done;
    std::string message;  // what the boxes said, when it did not succeed
};

// Times one operation: the record starts when it is made and Finish gives its duration.
class OperationTimer {
  public:
    OperationTimer(Operation operation, std::string memory, std::string file);
    OperationRecord Finish(OperationResult result, uint64_t bytes) const;

  private:
    OperationRecord record_;
    std::chrono::steady_clock::time_point began_;
};

// "Loaded 21,086 bytes into Flash in 1.9 s", "Saved 4,096 bytes from RAM in 0.8 s",
// "Boot loaded 512 bytes in 0.3 s".
std::string DoneText(const OperationRecord& record);
// 21086 as "21,086".
std::string GroupedNumber(uint64_t n);
// The start as local time: "16:45:21" for the table, "2026-12-09T16:45:21+0100" for CSV.
std::string ClockText(std::chrono::system_clock::time_point t);
std::string IsoText(std::chrono::system_clock::time_point t);

class OperationHistory {
  public:
    void Add(OperationRecord record) { rows_.push_back(std::move(record)); }
    const std::vector<OperationRecord>& Rows() const { return rows_; }

    // A header line and one line per record, fields quoted where they need it (RFC 4180).
    std::string Csv() const;
    // Csv() written beside path and renamed over it once complete. Empty when saved, else
    // the reason.
    std::string SaveCsv(const std::string& path) const;

  private:
    std::vector<OperationRecord> rows_;
};

// One CSV field: quoted, with its quotes doubled, when it holds a comma, a quote or a line
// break.
std::string CsvField(const std::string& text);

}  // namespace memops
