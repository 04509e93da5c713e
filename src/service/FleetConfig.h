#pragma once

// The service's configuration file: which projectors to poll, on which device, how fast and
// how often.
//
//   projectors:
//     - name: hall-a
//       device: /dev/ttyUSB0
//     - name: hall-b
//       device: rfc2217:serial-server:4001
//       speed: 9600
//       interval: 30s
//       console: 127.0.0.1:4660   # where a console attaches (optional)
//       pjlink:                   # where network controllers reach it (optional)
//         listen: 0.0.0.0:4352
//         password_file: /etc/qx200d/hall-b.pjlink   # absent: no authentication
//   operator_quiet: 2s            # how long the line stays an operator's after its last line

#include "protocol/StatusReading.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <array>
#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

namespace qx200 {

inline constexpr std::chrono::milliseconds DefaultPollInterval{10000};
inline constexpr qint32 DefaultSpeed = 19200;
inline constexpr std::chrono::milliseconds DefaultOperatorQuiet{2000};

// An IP address and a port.
struct SocketAddress {
    QHostAddress address;
    quint16 port = 0;
    friend bool operator==(const SocketAddress&, const SocketAddress&) = default;
};

// A projector's network controller listener. Texts left empty are answered with defaults.
struct PjlinkConfig {
    SocketAddress listen;
    QString passwordFile; // empty: no authentication
    QString name;         // empty: the projector's name
    QString manufacturer;
    QString model;
    QString info;
    // The input codes of PC1, PC2, Video and HDMI, in the order of InputSource.
    std::array<QByteArray, 4> inputs{"11", "12", "21", "31"};
    friend bool operator==(const PjlinkConfig&, const PjlinkConfig&) = default;
};

struct ProjectorConfig {
    QString name;
    QString device; // as written: a path, tcp:HOST:PORT or rfc2217:HOST:PORT
    qint32 speed = DefaultSpeed;
    std::chrono::milliseconds interval = DefaultPollInterval;
    std::optional<SocketAddress> console; // where a console attaches, if anywhere
    std::optional<PjlinkConfig> pjlink;   // where network controllers reach it, if anywhere
    friend bool operator==(const ProjectorConfig&, const ProjectorConfig&) = default;
};

struct FleetConfig {
    std::vector<ProjectorConfig> projectors;
    std::chrono::milliseconds operatorQuiet = DefaultOperatorQuiet;
};

struct ConfigResult {
    std::optional<FleetConfig> config; // nothing when the file is refused
    QString error;                     // why, with the line: "line 4: speed must be 19200 or 9600"
};

// Reads the configuration from YAML text.
ConfigResult parseFleetConfig(std::string_view yaml);

// Reads the configuration file; errors name the file: "fleet.yml: line 4: ...".
ConfigResult loadFleetConfig(const QString& path);

// Whether the configuration text names a projector at all. The file as installed names none
// (every entry commented out). Text that is no YAML counts as naming one: reading it fully
// then says what is wrong, where waiting for a projector would hide the mistake.
bool namesProjector(std::string_view yaml);

// The longest interval and operator_quiet taken: longer ones are mistakes, and a timer holds
// no more than about 24 days.
inline constexpr std::chrono::milliseconds MaxDuration = std::chrono::hours(24);
// A configuration file larger than this is no configuration.
inline constexpr qint64 MaxConfigBytes = 1 << 20;

// A duration as Prometheus writes them: numbers with units from y, w, d, h, m, s, ms, largest
// first, each once ("500ms", "10s", "1h30m", "0s"). Nothing for anything else.
std::optional<std::chrono::milliseconds> parseDuration(std::string_view text);

// "127.0.0.1:4660" or "[::1]:4660": an IP literal and a port from 1 to 65535. On anything else,
// nothing, and the reason in *error.
std::optional<SocketAddress> parseSocketAddress(const QString& text, QString* error);
QString socketAddressText(const SocketAddress& at);

// The line settings text for a speed ("19200,N,8,1"); nothing for a speed the projector lacks.
std::optional<QByteArray> lineSettingsFor(qint32 speed);

} // namespace qx200
