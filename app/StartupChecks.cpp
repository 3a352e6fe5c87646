#include "app/StartupChecks.h"

#include <cerrno>
#include <cstring>

#include "platform/IniFile.h"
#include "streams/MessageStreams.h"

namespace app {

bool CheckConfigurationOption(const std::string& path) {
    if (path.empty())
        return true;
    // As the command line says it, so that both programs refuse a mistyped name alike.
    switch (platform::CheckIniFile(path)) {
        case platform::ReadStatus::Ok:
            return true;
        case platform::ReadStatus::Missing:
            streams::msgout() << "The configuration file " << path << " does not exist.\n";
            return false;
        case platform::ReadStatus::TooLarge:
            streams::msgout() << "The configuration file " << path << " is larger than 1 MiB.\n";
            return false;
        case platform::ReadStatus::Unreadable:
            break;
    }
    streams::msgout() << "Cannot read the configuration file " << path << ": "
                      << std::strerror(errno) << ".\n";
    return false;
}

}  // namespace app
