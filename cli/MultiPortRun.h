#pragma once
// One operation on several ports at once: each port with its own serial port, configuration
// copy, engine and thread. A port that is missing, busy or fails midway does not stop the
// others. In station mode each port's thread waits for a radio (the device appears and answers
// a status request), runs the operation on it, waits until it is gone, and starts again, until
// cancelled or the count of radios is reached.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/PortLines.h"
#include "cli/PortRecord.h"
#include "memops/ProgressView.h"
#include "serial/SerialPort.h"
#include "streams/Configuration.h"

namespace station {
class ReportFile;
}

namespace cli {

class MultiPortRun;

// What a job sees of its port, on the port's own thread.
class PortContext : public memops::ProgressView {
  public:
    serial::SerialPort& Port() { return *port_; }
    streams::Configuration& Profile() { return *profile_; }
    const std::string& Name() const { return record_.port; }
    // The radio's number in the run, from 1: the port's place in the list, or in station mode
    // the order in which radios started.
    unsigned Number() const { return number_; }
    PortRecord& Record() { return record_; }
    // The state shown on the port's line ("loading", "verifying" ...).
    void State(const std::string& state);
    // The job's cancel, run at once from another thread when the run is cancelled (at once
    // here when it already is); nullptr: none.
    void SetCancel(std::function<void()> cancel);
    // What is kept when the process must end at once (a save's partial file); nullptr: none.
    void SetLastWish(std::function<void()> wish);
    bool Cancelled() const;
    // A message box of this port: shown with its name, kept in its record.
    void Message(const std::string& text);
    // True once the run is cancelled, for waits that take a flag.
    const std::atomic<bool>* CancelFlag() const;

    void Started(const std::string& title, const std::string& fileName, const std::string& header,
                 uint32_t total) override;
    void Progress(uint32_t bytesDone, uint32_t address) override;
    void Finished() override {}

  private:
    friend class MultiPortRun;

    MultiPortRun* run_ = nullptr;
    size_t index_ = 0;
    unsigned number_ = 0;
    std::unique_ptr<streams::Configuration> profile_;
    std::unique_ptr<serial::SerialPort> port_;
    PortRecord record_;
    uint64_t total_ = 0;
    bool probing_ = false;  // a station's status requests: their failures are no messages
    std::mutex mutex_;      // guards cancel_ and lastWish_
    std::function<void()> cancel_, lastWish_;
};

// The job: the operation on ctx's open port; its outcome. Messages it writes are the port's.
using PortJob = std::function<PortOutcome(PortContext& ctx)>;

struct MultiPortSettings {
    std::vector<std::string> ports;
    PortRecord base;  // operation, memory, file and digest of every record
    bool station = false;
    unsigned long count = 0;  // station mode: radios in all (0: until cancelled)
    station::ReportFile* report = nullptr;
    // --trace: a wire trace per radio, the file named with {port} and {n} (PortFileName).
    std::string trace;
    bool quiet = false;
    bool live = false;  // stderr is a terminal
    // A configuration of the run for one port (its copy, with the run's overrides).
    std::function<std::unique_ptr<streams::Configuration>(const std::string& port)> profileFor;
};

class MultiPortRun {
  public:
    // How long a station waits between looks at a port.
    static constexpr int kStationPollMs = 300;

    explicit MultiPortRun(MultiPortSettings settings);
    ~MultiPortRun();

    // Runs job on every port (every radio, in station mode) until all have ended; the records
    // in port order (station mode: in the order radios ended).
    std::vector<PortRecord> Run(const PortJob& job);
    // Any thread: stops every port at once.
    void Cancel();
    bool Cancelled() const { return cancelled_.load(); }
    // Any thread, when the process must end at once: every port's last wish.
    void LastWishes();
    // Whether any port's configuration refused a value.
    bool ConfigurationRefused() const { return refused_.load(); }

  private:
    friend class PortContext;
    void Worker(size_t index, const PortJob& job);
    // One radio: open (unless the station opened it), run, record, report.
    void RunOne(PortContext& ctx, const PortJob& job);
    bool OpenPort(PortContext& ctx);
    void NewPort(PortContext& ctx);
    bool WaitForRadio(PortContext& ctx);
    void WaitUntilGone(PortContext& ctx);
    bool Answers(PortContext& ctx);
    // A radio may start (station mode, --count): false when the count is reached.
    bool TakeSlot(unsigned& number);
    bool SlotsLeft() const;
    // Sleeps ms, or less when cancelled or (untilCountReached) no radio may start any more.
    void Pause(int ms, bool untilCountReached);
    void Finish(PortContext& ctx);

    MultiPortSettings settings_;
    PortLines lines_;
    std::vector<std::unique_ptr<PortContext>> contexts_;
    std::atomic<bool> cancelled_{false}, refused_{false};
    std::atomic<unsigned long> started_{0}, ended_{0};
    std::mutex mutex_;  // guards records_ and the pause
    std::condition_variable wake_;
    std::vector<PortRecord> records_;
};

}  // namespace cli
