#pragma once
// What zimpprotocol refuses before its window opens.

#include <string>

namespace app {

// A --config that names no usable file (missing, over 1 MiB, unreadable): the reason as a
// message box, and false. The configuration found without --config is never refused here.
bool CheckConfigurationOption(const std::string& path);

}  // namespace app
