#include "cli/ConfigurationCopies.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/zimp-ports-XXXXXX";
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
