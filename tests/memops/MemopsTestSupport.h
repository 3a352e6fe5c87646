#pragma once
// The memory operations against the in-process simulated radio, with a configuration file of
// their own.

#include <atomic>
#include <memory>
#include <string>

#include "memops/LoadCommand.h"
#include "memops/ProgressView.h"
#include "serial/SerialPort.h"
#include "streams/Configuration.h"
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
    std::unique_ptr<streams::Configuration> profile;
    bool ok = false;
};

// A progress view that records what it hears.
class RecordingProgress : public memops::ProgressView {
  public:
    void Started(const std::string& title, const std::string& file, const std::string& header,
                 uint32_t total) override;
    void Progress(uint32_t done, uint32_t address) override;
    void Finished() override { ++finishes; }

    std::atomic<int> starts{0}, finishes{0};
    std::atomic<uint32_t> lastDone{0}, total{0}, posts{0};
    std::string title, header;
};

}  // namespace memopstest
