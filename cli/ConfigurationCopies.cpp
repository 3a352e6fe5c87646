#include "cli/ConfigurationCopies.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/BoundedRead.h"
#include "platform/IniFile.h"

namespace cli {

ConfigurationCopies::~ConfigurationCopies() {
    for (const std::string& f : files_)
        unlink(f.c_str());
    if (!dir_.empty())
        rmdir(dir_.c_str());
}

namespace {
// What a run that was killed (a second interrupt, SIGKILL) left behind: the directories of
// processes that are gone, and only the copies in them.
void RemoveStaleCopies(const std::string& base) {
    DIR* dir = opendir(base.c_str());
    if (!dir)
        return;
    while (const dirent* e = readdir(dir)) {
        unsigned long pid = 0;
        char rest[32];
        if (std::sscanf(e->d_name, "zimp-ports-%lu-%31s", &pid, rest) != 2 || pid == 0 ||
            pid > static_cast<unsigned long>(INT32_MAX) || std::strlen(rest) != 6)
            continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;  // alive, or not ours to judge
        const std::string path = base + "/" + e->d_name;
        for (int n = 1; n <= 4096; ++n)
            if (unlink((path + "/port" + std::to_string(n) + ".ini").c_str()) != 0)
                break;
        rmdir(path.c_str());  // fails, harmlessly, when anything else is in it
    }
    closedir(dir);
}
}  // namespace

bool ConfigurationCopies::Take(const std::string& source, std::string& error) {
    haveSource_ = !source.empty();
    if (!haveSource_)
        return true;
    const platform::ReadStatus read =
        platform::ReadFileBounded(source, platform::kMaxIniFileSize, text_);
    if (read == platform::ReadStatus::Missing) {
        text_.clear();  // a located file that is not there reads as empty, as for one port
    } else if (read != platform::ReadStatus::Ok) {
        error = "cannot read configuration file " + source;
        return false;
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = tmp && *tmp ? tmp : "/tmp";
    RemoveStaleCopies(base);
    std::string tmpl = base + "/zimp-ports-" + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        error = "cannot make a directory for the ports' configurations: " +
                std::string(std::strerror(errno));
        return false;
    }
    dir_ = tmpl;
    return true;
}

std::string ConfigurationCopies::NewCopy(std::string& error) {
    if (!haveSource_)
        return "";
    std::lock_guard lock(mutex_);
    const std::string path = dir_ + "/port" + std::to_string(files_.size() + 1) + ".ini";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    for (size_t done = 0; ok && done < text_.size();) {
        const ssize_t n = write(fd, text_.data() + done, text_.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    if (fd >= 0) {
        files_.push_back(path);
        ok = close(fd) == 0 && ok;
    }
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return "";
    }
    return path;
}

}  // namespace cli
