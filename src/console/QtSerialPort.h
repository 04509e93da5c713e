#pragma once

#include "console/DeviceLock.h"
#include "console/SerialPort.h"

#include <QObject>
#include <QSerialPort>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

namespace qx200 {

// Parsed "19200,N,8,1": baud rate, parity letter, data bits, stop bits.
struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
// Nothing when the text is not a settings text.
std::optional<LineSettings> parseSettings(const QByteArray& text);

// COMn as the environment and the settings file name it, else /dev/ttyS<n-1>.
QString devicePathFor(std::int16_t port);

// The serial service on a real device through QSerialPort.
//
// Once open, the port stays the console's open port until it is closed, even when the device
// goes away underneath (an adapter pulled, a link's far end gone): the device is then closed at
// once, the operator is told once through OnFault, writes are skipped, and the same device is
// reopened with the same settings as soon as it is back.
class QtSerialPort final : public QObject, public SerialPort {
    Q_OBJECT

public:
    static constexpr int ReconnectMs = 300;

    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    void CommPort(std::int16_t port) override;
    std::int16_t CommPort() const override { return commPort_; }
    void Settings(const QByteArray& settings) override;
    bool PortOpen() const override { return open_; }
    void PortOpen(bool open) override;
    void Output(const QByteArray& bytes) override;
    QByteArray Input() override;
    std::int16_t CommEvent() const override { return event_; }
    QString Device() const override { return deviceFor(commPort_); }

    // What a port number resolves to; the console's COMn rule unless replaced.
    std::function<QString(std::int16_t)> deviceFor = devicePathFor;

    // True while the console's open port has no device behind it.
    bool deviceLost() const { return open_ && !port_.isOpen(); }
    // Where lock files of other programs are looked for.
    QStringList lockDirectories{QStringLiteral("/var/lock"), QStringLiteral("/run/lock")};

private:
    void openDevice();
    void closeDevice();
    void apply(const LineSettings& settings);
    void deviceFailed(QSerialPort::SerialPortError error);
    void reconnect();
    [[noreturn]] void fail(const QString& what) const;
    QString name() const; // "COM1 (/dev/ttyS0)"

    QSerialPort port_;
    DeviceLock lock_;
    QTimer reconnect_;
    std::int16_t commPort_ = 1;
    LineSettings settings_;
    std::int16_t event_ = 0;
    bool open_ = false;
};

} // namespace qx200
