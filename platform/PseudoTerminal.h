#pragma once
// A pseudo-terminal pair: the master side is the simulated radio's end of the line, the slave
// path is what a SerialPort opens.

#include <string>

namespace platform {

class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens a new master (non-blocking) in raw mode. With keepSlaveOpen the master keeps a
    // slave descriptor of its own, so that it never sees a hang-up while a client closes and
    // reopens the slave; the exclusive flag is not set on that descriptor.
    bool Open(bool keepSlaveOpen = true);
    void Close();
    // Closes only the master: the slave side sees the line go away.
    void CloseMaster();

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

  private:
    int master_ = -1;
    int slaveKeeper_ = -1;
    std::string slavePath_;
};

}  // namespace platform
