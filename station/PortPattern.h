#pragma once
// The serial ports of a production line: named by a shell pattern (/dev/ttyUSB*), and known in
// the record by their stable /dev/serial/by-id name, which follows the adapter from port to port.

#include <string>
#include <vector>

namespace station {

// The existing paths that match the shell-style pattern, sorted; empty when none does.
std::vector<std::string> ExpandPortPattern(const std::string& pattern);

// The name (last component) of the entry of byIdDir that is, or resolves to, the same device as
// port: port's own name when it is itself in byIdDir, else the first such name in sorted order.
// Empty when there is none (or port does not exist).
std::string ByIdName(const std::string& port, const std::string& byIdDir = "/dev/serial/by-id");

}  // namespace station
