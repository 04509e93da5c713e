#pragma once

// qx200d's command line.

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>

namespace qx200 {

struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
    friend bool operator==(const ListenAddress&, const ListenAddress&) = default;
};

inline constexpr const char* DefaultListen = "127.0.0.1:9733";

// "127.0.0.1:9733", "[::1]:9733", "localhost:9733", or ":9733" for every address. On a
// malformed text, nothing, and the reason in *error.
std::optional<ListenAddress> parseListenAddress(const QString& text, QString* error);

struct ServiceOptions {
    enum class Mode { Serve, CheckConfig, NamesProjector, Probe, Help, Version };
    Mode mode = Mode::Serve;
    QString config;
    ListenAddress listen;
    QString probeDevice;
    QString controlSocket; // empty: qx200d.sock in the service's run-time folder
    qint32 speed = 19200;
    bool json = false;
    bool record = true; // each projector's line recorded under the state folder; --no-record
};

struct ParsedServiceOptions {
    std::optional<ServiceOptions> options; // nothing when the command line is wrong
    QString error;                         // one line, for the user
};

// Parses the arguments after the program name.
ParsedServiceOptions parseServiceOptions(const QStringList& args);

QString serviceUsage();

} // namespace qx200
