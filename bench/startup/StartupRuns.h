#pragma once

#include <QJsonObject>

namespace qx200::bench {

// The console's start-up as an operator meets it: the console probe and an empty Qt window,
// each started in turn as a fresh process several times, each until its window is painted.
// Figures: startup_ms and startup_empty_ms (launch to first paint, medians), startup_ratio,
// rest_rss_mb and rest_rss_empty_mb (resident memory once the window has rested), rss_ratio,
// and startup_phases: the median time of each phase of the console's start, in ms.
QJsonObject measureStartup();

} // namespace qx200::bench
