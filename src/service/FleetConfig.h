#pragma once

// The exporter's configuration file: which projectors to poll, on which device, how fast and
// how often.
//
//   projectors:
//     - name: hall-a
//       device: /dev/ttyUSB0
//     - name: hall-b
//       device: rfc2217:serial-server:4001
//       speed: 9600
//       interval: 30s

#include <QByteArray>
#include <QString>
#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

namespace qx200 {

inline constexpr std::chrono::milliseconds DefaultPollInterval{10000};
inline constexpr qint32 DefaultSpeed = 19200;

struct ProjectorConfig {
    QString name;
    QString device; // as written: a path, tcp:HOST:PORT or rfc2217:HOST:PORT
    qint32 speed = DefaultSpeed;
    std::chrono::milliseconds interval = DefaultPollInterval;
};

struct FleetConfig {
    std::vector<ProjectorConfig> projectors;
};

struct ConfigResult {
    std::optional<FleetConfig> config; // nothing when the file is refused
    QString error;                     // why, with the line: "line 4: speed must be 19200 or 9600"
};

// Reads the configuration from YAML text.
ConfigResult parseFleetConfig(std::string_view yaml);

// Reads the configuration file; errors name the file: "fleet.yml: line 4: ...".
ConfigResult loadFleetConfig(const QString& path);

// A duration as Prometheus writes them: numbers with units from y, w, d, h, m, s, ms, largest
// first, each once ("500ms", "10s", "1h30m"). Nothing for anything else, and for zero.
std::optional<std::chrono::milliseconds> parseDuration(std::string_view text);

// The line settings text for a speed ("19200,N,8,1"); nothing for a speed the projector lacks.
std::optional<QByteArray> lineSettingsFor(qint32 speed);

} // namespace qx200
