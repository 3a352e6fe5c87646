#pragma once
// Runs a program of ours as a child process with pipes, for end-to-end tests of the tools.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/Clock.h"

class Subprocess {
  public:
    // Starts argv[0] with stdin, stdout and stderr on pipes.
    explicit Subprocess(const std::vector<std::string>& argv, const std::string& cwd = "") {
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            if (!cwd.empty() && chdir(cwd.c_str()) != 0)
                _exit(126);
            std::vector<char*> args;
            for (const auto& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
        fcntl(err_, F_SETFL, O_NONBLOCK);
    }
    ~Subprocess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            Wait(5000);
        }
        for (int fd : {in_, out_, err_})
            if (fd >= 0)
                close(fd);
    }

    void Input(const std::string& data) {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t w = write(in_, data.data() + done, data.size() - done);
            if (w <= 0)
                break;
            done += static_cast<size_t>(w);
        }
    }
    void CloseInput() {
        if (in_ >= 0)
            close(in_);
        in_ = -1;
    }
    void Signal(int sig) { kill(pid_, sig); }
    pid_t Pid() const { return pid_; }

    // Reads output until a line starting with prefix arrives (or limitMs passes).
    std::string WaitForLine(const std::string& prefix, uint32_t limitMs = 10000) {
        uint64_t end = platform::TickMs() + limitMs;
        for (;;) {
            Drain();
            size_t pos = 0;
            while (pos < out.size()) {
                size_t nl = out.find('\n', pos);
                if (nl == std::string::npos)
                    break;
                std::string line = out.substr(pos, nl - pos);
                if (line.rfind(prefix, 0) == 0)
                    return line;
                pos = nl + 1;
            }
            if (platform::TickMs() > end)
                return "";
            pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
            poll(p, 2, 50);
        }
    }

    // Reads output until done() holds (true) or limitMs passes (false).
    template <class Done>
    bool WaitUntil(Done done, uint32_t limitMs = 30000) {
        const uint64_t end = platform::TickMs() + limitMs;
        for (;;) {
            Drain();
            if (done())
                return true;
            if (platform::TickMs() > end)
                return false;
            pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
            poll(p, 2, 50);
        }
    }

    // Waits for the end; the exit status, 128 + signal, or -1 when it did not end in time.
    int Wait(uint32_t limitMs = 60000) {
        uint64_t end = platform::TickMs() + limitMs;
        for (;;) {
            Drain();
            int status;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                Drain();
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (platform::TickMs() > end)
                return -1;
            pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
            poll(p, 2, 20);
        }
    }

    std::string out, err;

  private:
    void Drain() {
        char buf[4096];
        ssize_t n;
        while ((n = read(out_, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
        while ((n = read(err_, buf, sizeof buf)) > 0)
            err.append(buf, static_cast<size_t>(n));
    }

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    bool exited_ = false;
};
