#pragma once
// The record of a production run: one JSON object per radio, one per line (JSON Lines),
// appended so that a kill or a full disk never loses or mangles an earlier record, and so that
// several threads or stations may share one file.

#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace station {

class ReportFile {
  public:
    ReportFile() = default;
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Opens path for appending, created with mode 0644 when missing. A FIFO or a device is
    // written into as it is (a FIFO must already have its reader). False, with the reason.
    bool Open(const std::string& path, std::string& error);
    // Writes record as one line with a single write(2), then syncs a regular file's data.
    // A last line cut short (by a crash or a full disk) is ended first; a regular file is
    // locked (flock) meanwhile, so that a record another station is writing is not taken for
    // a cut one. Thread-safe.
    bool Append(const nlohmann::json& record, std::string& error);
    void Close();
    bool IsOpen() const;

  private:
    void CloseLocked();

    mutable std::mutex mutex_;
    int fd_ = -1;
    bool regular_ = false;
    std::string path_;
};

}  // namespace station
