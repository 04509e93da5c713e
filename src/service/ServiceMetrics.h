#pragma once

// The service's own metrics, beside the projectors': what build runs, how the last reload of the
// configuration went, and the process' resources as Prometheus client libraries export them.
// Small and read afresh for each scrape.

#include <QDateTime>
#include <optional>
#include <string>

namespace qx200 {

struct ProcessStats {
    double cpuSeconds = 0; // user and system
    double residentBytes = 0;
    double virtualBytes = 0;
    double openDescriptors = 0;
    double maxDescriptors = 0;
    double startTimeSeconds = 0; // Unix time
};

// This process' figures from /proc/self; nothing where /proc cannot be read.
std::optional<ProcessStats> readProcessStats();

struct ReloadState {
    bool lastSuccessful = true;
    std::optional<QDateTime> lastSuccess; // the start counts as one
};

// build_info, the reload state and the process figures in the text exposition format.
std::string serviceMetricsText(const ReloadState& reload,
                               const std::optional<ProcessStats>& process);

} // namespace qx200
