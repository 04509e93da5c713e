#pragma once

// qx200d's command line.

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>
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
// malformed text, nothing, and the reason in *error ("\"9733\": expected ADDRESS:PORT ...").
std::optional<ListenAddress> parseListenAddress(const QString& text, QString* error);

// "127.0.0.1:9733", "[::1]:9733", "[::]:9733" for every address: as a URL takes it.
QString listenAddressText(const ListenAddress& at);

// Why the address cannot be listened on, for the user: the cause as the system gives it, and a
// hint at another qx200d only when the address is in use.
QString listenFailureText(const ListenAddress& at, QAbstractSocket::SocketError error,
                          const QString& errorString);

struct ServiceOptions {
    enum class Mode { Serve, CheckConfig, NamesProjector, Probe, Help, Version };
    Mode mode = Mode::Serve;
    QString config;
    QList<ListenAddress> listen;           // --web.listen-address, repeatable
    QByteArray telemetryPath = "/metrics"; // --web.telemetry-path
    QString webConfig;                     // --web.config.file: TLS and users
    bool lifecycle = false;                // --web.enable-lifecycle: POST /-/reload
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
