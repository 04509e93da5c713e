#pragma once

#include "serial/SerialLine.h"
#include "serial/SerialPort.h"

#include <QObject>
#include <QStringList>
#include <functional>

namespace qx200 {

// The console's serial service (its SerialPort interface) on a serial line: port numbers and
// settings texts on top, the device named by the owner's lookup, texts that name the port
// ("COM1 (/dev/ttyS0): ..."). What the line does when its device goes away, is slow or is a
// serial server is SerialLine's.
class QtSerialPort final : public QObject, public SerialPort {
    Q_OBJECT

public:
    // The device behind a port number is the owner's to say: the console's COMn rule, or one
    // fixed device.
    using DeviceLookup = std::function<QString(std::int16_t)>;

    explicit QtSerialPort(DeviceLookup deviceFor, QObject* parent = nullptr);

    void CommPort(std::int16_t port) override;
    std::int16_t CommPort() const override { return commPort_; }
    void Settings(const QByteArray& settings) override;
    bool PortOpen() const override { return line_.isOpen(); }
    void PortOpen(bool open) override;
    void Output(const QByteArray& bytes) override;
    QByteArray Input() override;
    std::int16_t CommEvent() const override { return event_; }
    QString Device() const override { return deviceFor_(commPort_); }

    // True while the console's open port has no device behind it (also while connecting).
    bool deviceLost() const { return line_.isOpen() && !line_.ready(); }
    bool DeviceReady() const override { return line_.ready(); }
    // Bytes written but not yet taken by the device.
    qsizetype pendingOutput() const { return line_.pendingOutput(); }
    // Where lock files of other programs are looked for.
    QStringList& lockDirectories = line_.lockDirectories;

private:
    [[noreturn]] void fail(const QString& what) const;
    QString name() const; // "COM1 (/dev/ttyS0)"

    DeviceLookup deviceFor_;
    SerialLine line_;
    std::int16_t commPort_ = 1;
    std::int16_t event_ = 0;
};

} // namespace qx200
