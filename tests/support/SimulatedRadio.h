#pragma once
// Test helper: the in-process simulated radio on the master side of a pseudo-terminal, run on
// a thread of its own. The code under test opens pty.SlavePath().

#include <memory>
#include <thread>

#include "platform/PseudoTerminal.h"
#include "sim/radio/RadioSimulator.h"
#include "sim/radio/ZimpRadio.h"

class SimulatedRadio {
  public:
    explicit SimulatedRadio(radio::ZimpRadioOptions options = {}) : radio(options) {}
    ~SimulatedRadio() { Stop(); }
    SimulatedRadio(const SimulatedRadio&) = delete;
    SimulatedRadio& operator=(const SimulatedRadio&) = delete;

    bool OpenLine() { return pty.Open(true); }
    // baud 0: answers at once; else paced as a line at that rate would carry them.
    void Start(uint32_t baud = 0) {
        simulator = std::make_unique<radio::RadioSimulator>(pty.MasterFd(), radio, baud);
        thread = std::thread([this] { simulator->Run(); });
    }
    void Stop() {
        if (simulator) {
            simulator->Stop();
            thread.join();
            simulator.reset();
        }
    }

    platform::PseudoTerminal pty;
    radio::ZimpRadio radio;
    std::unique_ptr<radio::RadioSimulator> simulator;
    std::thread thread;
};
