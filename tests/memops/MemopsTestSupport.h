#pragma once
// The memory operations against the in-process simulated radio, with a configuration file of
// their own.

#include <memory>
#include <string>

#include "memops/LoadCommand.h"
#include "memops/ProgressView.h"
#include "platform/Event.h"
#include "serial/SerialPort.h"
#include "streams/profilestream.h"
#include "support/SimulatedRadio.h"
#include "support/TempDir.h"
#include "zimp/ZimpTestSupport.h"

namespace memopstest {

using zimptest::Bytes;

// An S1/S2 record line with its checksum.
std::string Record(uint32_t address, const Bytes& data, bool s2 = false);
// A file of the given records with an S0 header and an S9 end.
std::string SRecordFile(const std::vector<std::pair<uint32_t, Bytes>>& blocks);

// The simulated radio with a port open on its line and a configuration of its own.
class RadioRig : public SimulatedRadio {
  public:
    explicit RadioRig(radio::ZimpRadioOptions options = {}, const std::string& ini = "");
    ~RadioRig();

    TempDir dir;
    std::string iniPath;
    serial::SerialPort port;
    std::unique_ptr<streams::profilestream> profile;
    bool ok = false;
};

// A progress view that records and can cancel.
class RecordingProgress : public memops::ProgressView {
  public:
    void Show(const std::string& title, const std::string& file, const std::string& header,
              uint32_t total) override;
    void Progress(uint32_t done, uint32_t address) override;
    bool IsCancelled() const override { return cancelled; }
    void Close() override { ++closes; }
    void RunUntil(platform::Event& finished) override;

    std::atomic<bool> cancelled{false};
    std::atomic<int> closes{0};
    std::atomic<uint32_t> lastDone{0}, total{0}, posts{0};
    std::string title, header;
    std::function<void()> whileRunning;  // runs on the caller's thread during the transfer
};

class FixedParameters : public memops::LoadFrontEnd {
  public:
    explicit FixedParameters(memops::LoadParameters p) : params(std::move(p)) {}
    bool EditParameters(memops::LoadParameters& p) override {
        shown = p;
        std::string title = p.title;
        p = params;
        p.title = title;
        return accept;
    }
    memops::ProgressView* Progress() override { return &progress; }

    memops::LoadParameters params, shown;
    RecordingProgress progress;
    bool accept = true;
};

}  // namespace memopstest
