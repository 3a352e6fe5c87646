// zimp ports: the serial devices of this machine, with their stable names.

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "cli/CliApp.h"
#include "cli/Commands.h"

namespace cli {

const char* const kPortsHelp =
    "usage: zimp ports\n"
    "\n"
    "Lists the serial ports of this machine (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM* and\n"
    "others that the kernel reports as serial), one a line, each with its stable\n"
    "/dev/serial/by-id name where there is one. Use either name as the configuration's\n"
    "Port or with --port.\n";

namespace {

bool IsSerialDevice(const std::string& name) {
    // Built-in UARTs without hardware still appear as ttyS*; /sys tells whether a driver
    // bound a real device to them.
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyAMA", "ttymxc", "ttyO", "rfcomm"})
        if (name.rfind(prefix, 0) == 0)
            return true;
    if (name.rfind("ttyS", 0) == 0) {
        char link[PATH_MAX];
        std::string dev = "/sys/class/tty/" + name + "/device/driver";
        return realpath(dev.c_str(), link) != nullptr;
    }
    return false;
}

}  // namespace

int CmdPorts(CliApp&, const std::vector<std::string>& args) {
    if (!args.empty())
        return UsageError("ports takes no arguments");
    std::map<std::string, std::string> stable;  // device -> by-id name
    if (DIR* d = opendir("/dev/serial/by-id")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            std::string link = std::string("/dev/serial/by-id/") + e->d_name;
            char target[PATH_MAX];
            if (realpath(link.c_str(), target))
                stable[target] = link;
        }
        closedir(d);
    }
    std::vector<std::string> devices;
    if (DIR* d = opendir("/sys/class/tty")) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name[0] != '.' && IsSerialDevice(name))
                devices.push_back("/dev/" + name);
        }
        closedir(d);
    }
    std::sort(devices.begin(), devices.end());
    for (const auto& dev : devices) {
        auto it = stable.find(dev);
        if (it != stable.end())
            std::printf("%s\t%s\n", dev.c_str(), it->second.c_str());
        else
            std::printf("%s\n", dev.c_str());
    }
    if (devices.empty())
        std::fprintf(stderr, "No serial ports found.\n");
    return kExitOk;
}

std::unique_ptr<CliCommand> MakePortsCommand() {
    return std::make_unique<OperandsOnlyCommand>(CmdPorts);
}

}  // namespace cli
