#include "cli/MultiPortCli.h"

#include <unistd.h>

#include <cstdio>

#include "cli/CliApp.h"
#include "station/PortPattern.h"
#include "station/ReportFile.h"

namespace cli {

std::string PortFileName(const std::string& name, const std::string& port, unsigned number) {
    const size_t slash = port.rfind('/');
    const std::string base = slash == std::string::npos ? port : port.substr(slash + 1);
    std::string out;
    for (size_t i = 0; i < name.size();) {
        if (name.compare(i, 6, "{port}") == 0) {
            out += base;
            i += 6;
        } else if (name.compare(i, 3, "{n}") == 0) {
            out += std::to_string(number);
            i += 3;
        } else {
            out += name[i++];
        }
    }
    return out;
}

int RunOnPorts(CliApp& app, const PortRecord& base, const PortJob& job) {
    const GlobalOptions& o = app.Options();
    MultiPortSettings s;
    s.ports = o.ports;
    if (!o.portsPattern.empty()) {
        s.ports = station::ExpandPortPattern(o.portsPattern);
        if (s.ports.empty())
            return UsageError("no device matches --ports " + o.portsPattern);
    }
    if (s.ports.empty())
        return UsageError("no port given: name them with --port or --ports");
    for (size_t i = 0; i < s.ports.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (s.ports[i] == s.ports[j])
                return UsageError("port " + s.ports[i] + " is given twice");
    station::ReportFile report;
    if (!o.report.empty()) {
        std::string error;
        if (!report.Open(o.report, error))
            return UsageError("cannot open report " + o.report + ": " + error);
        s.report = &report;
    }
    if (!app.PreparePortConfigurations())
        return kExitUsage;
    s.base = base;
    s.station = o.station;
    if (o.count) {
        unsigned long n = 0;
        ParseCount(*o.count, n);
        s.count = n;
    }
    s.trace = o.trace;
    if (!s.trace.empty() && s.trace.find("{port}") == std::string::npos &&
        s.trace.find("{n}") == std::string::npos)
        return UsageError(
            "--trace on several ports needs {port} or {n} in FILE, so that every "
            "radio has a trace of its own");
    s.quiet = o.quiet;
    s.live = isatty(STDERR_FILENO) == 1;
    s.profileFor = [&app](const std::string& port) { return app.PortConfiguration(port); };

    MultiPortRun run(std::move(s));
    app.Canceller().SetHandler([&run] { run.Cancel(); });
    app.Canceller().SetLastWish([&run] { run.LastWishes(); });
    const std::vector<PortRecord> records = run.Run(job);
    app.Canceller().SetLastWish(nullptr);
    app.Canceller().SetHandler(nullptr);

    if (!o.quiet) {
        std::fputs(SummaryTable(records).c_str(), stdout);
        FlushOutput();
    }
    if (run.Cancelled() || app.Canceller().Cancelled())
        return kExitCancelled;
    if (run.ConfigurationRefused())
        return kExitUsage;
    for (const PortRecord& r : records)
        if (r.outcome != PortOutcome::Succeeded)
            return kExitFailed;
    return kExitOk;
}

}  // namespace cli
