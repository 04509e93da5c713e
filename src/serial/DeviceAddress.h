#pragma once

#include <QString>
#include <optional>

namespace qx200 {

// What a COM port name stands for: a local tty by its path, a raw TCP stream to a serial server,
// or a Telnet stream with the COM-PORT-OPTION (RFC 2217).
struct DeviceAddress {
    enum class Kind { Path, Tcp, Rfc2217 };

    Kind kind = Kind::Path;
    QString path; // Kind::Path
    QString host; // Kind::Tcp, Kind::Rfc2217; an IPv6 address without its brackets
    quint16 port = 0;

    bool isNetwork() const { return kind != Kind::Path; }
    // The written form: "/dev/ttyUSB0", "tcp:host:4001", "rfc2217:[::1]:4001".
    QString toString() const;
    friend bool operator==(const DeviceAddress&, const DeviceAddress&) = default;
};

// Reads "PATH", "tcp:HOST:PORT" or "rfc2217:HOST:PORT". On a malformed text, nothing, and the
// reason in *error, e.g. "tcp:host: the port must be a number from 1 to 65535".
std::optional<DeviceAddress> parseDeviceAddress(const QString& text, QString* error = nullptr);

} // namespace qx200
