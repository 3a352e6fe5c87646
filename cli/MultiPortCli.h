#pragma once
// The command line's side of a run over several ports: which ports, the report, Ctrl-C, the
// live lines and the summary table.

#include <string>

#include "cli/MultiPortRun.h"

namespace cli {

class CliApp;

// Runs job on the run's ports (--port, --ports, --station, --count, --report); the exit status:
// 0 when every radio succeeded, 1 when any failed, 2 for bad usage or a refused configuration
// value, 130 after Ctrl-C.
int RunOnPorts(CliApp& app, const PortRecord& base, const PortJob& job);

// name with "{port}" replaced by the port's last path component and "{n}" by number.
std::string PortFileName(const std::string& name, const std::string& port, unsigned number);

}  // namespace cli
