#pragma once
// Runs rnc-sim as a child process for a test: reads its PORTS line, sends it commands and
// reads the frames it logs. Every read has a time-out so a silent simulator fails the test
// instead of hanging it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args = {}) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        std::vector<std::string> all = {RNC_SIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, RNC_SIM_PATH, &fa, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        toSim_ = in[1];
        fromSim_ = out[0];
        std::string ports = WaitFor("PORTS ");
        if (std::sscanf(ports.c_str(), "PORTS %d %d", &inPort, &outPort) != 2) {
            inPort = outPort = -1;
        }
    }

    ~SimProcess() {
        if (toSim_ >= 0) {
            Write("quit\n");
            ::close(toSim_);
        }
        if (pid_ > 0) {
            int status;
            for (int i = 0; i < 500 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (i == 499) {
                    ::kill(pid_, SIGKILL);
                    ::waitpid(pid_, &status, 0);
                }
            }
        }
        if (fromSim_ >= 0)
            ::close(fromSim_);
    }

    bool ok() const { return pid_ > 0 && inPort > 0 && outPort > 0; }

    // Sends one command line and waits for its acknowledgement; true for "OK".
    bool Command(const std::string& line) {
        Write(line + "\n");
        for (;;) {
            std::string reply = WaitForAny({"OK ", "ERR "});
            if (reply.empty())
                return false;
            return reply.rfind("OK ", 0) == 0;
        }
    }

    // The first line not yet taken that starts with prefix (waiting up to ms for it), taken
    // out; "" when none came.
    std::string WaitFor(const std::string& prefix, int ms = 15000) {
        return WaitForAny({prefix}, ms);
    }

    // The hex of the next frame logged for one side ("OUT" or "IN").
    std::string NextFrame(const std::string& side, int ms = 15000) {
        std::string line = WaitFor("RECV " + side + " ", ms);
        return line.empty() ? "<none>" : line.substr(6 + side.size());
    }

    // Whether a line with this prefix has been read already and not taken.
    bool Seen(const std::string& prefix) {
        Pump(0);
        for (auto& l : lines_) {
            if (l.rfind(prefix, 0) == 0)
                return true;
        }
        return false;
    }

    int inPort = -1;
    int outPort = -1;

  private:
    void Write(const std::string& s) {
        size_t off = 0;
        while (off < s.size()) {
            ssize_t n = ::write(toSim_, s.data() + off, s.size() - off);
            if (n <= 0)
                return;
            off += static_cast<size_t>(n);
        }
    }

    std::string WaitForAny(std::initializer_list<std::string> prefixes, int ms = 15000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            for (auto it = lines_.begin(); it != lines_.end(); ++it) {
                for (auto& p : prefixes) {
                    if (it->rfind(p, 0) == 0) {
                        std::string l = *it;
                        lines_.erase(it);
                        return l;
                    }
                }
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0 || !Pump(static_cast<int>(left)))
                return "";
        }
    }

    // Reads what the simulator wrote, waiting up to ms for something; false at end of file.
    bool Pump(int ms) {
        if (fromSim_ < 0)
            return false;
        pollfd p{fromSim_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return true;
        char buf[65536];
        ssize_t n = ::read(fromSim_, buf, sizeof buf);
        if (n <= 0)
            return false;
        partial_.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, nl));
            partial_.erase(0, nl + 1);
        }
        return true;
    }

    pid_t pid_ = -1;
    int toSim_ = -1;
    int fromSim_ = -1;
    std::string partial_;
    std::deque<std::string> lines_;
};
