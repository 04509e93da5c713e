#pragma once

// A serial service that forwards every operation and callback to another one and tells its
// observers what crossed: the session record watches the console's port through it, and tests
// watch what the console hands over.

#include "serial/SerialPort.h"

#include <functional>

namespace qx200 {

class ObservedPort final : public SerialPort {
public:
    explicit ObservedPort(SerialPort& inner);
    ~ObservedPort() override;
    ObservedPort(const ObservedPort&) = delete;
    ObservedPort& operator=(const ObservedPort&) = delete;

    void CommPort(std::int16_t port) override { inner_.CommPort(port); }
    std::int16_t CommPort() const override { return inner_.CommPort(); }
    void Settings(const QByteArray& settings) override;
    bool PortOpen() const override { return inner_.PortOpen(); }
    void PortOpen(bool open) override;
    void Output(const QByteArray& bytes) override;
    QByteArray Input() override;
    std::int16_t CommEvent() const override { return inner_.CommEvent(); }
    QString Device() const override { return inner_.Device(); }
    bool DeviceReady() const override { return inner_.DeviceReady(); }

    // Each is told after the operation succeeded, before the caller goes on.
    std::function<void(const QByteArray&)> onOutput;   // the bytes written
    std::function<void(const QByteArray&)> onInput;    // what Input() handed over, maybe nothing
    std::function<void(const QByteArray&)> onSettings; // the settings now in effect
    // Opened once the device takes what is written: a network device when it is reached.
    std::function<void()> onOpened;
    // The failure's text: the error goes on, or the network device is tried again.
    std::function<void(const QString&)> onOpenFailed;
    std::function<void()> onClosed; // an open port was closed
    // Told before the console's own OnFault and OnRecover.
    std::function<void(const QString&)> onLost;
    std::function<void()> onBack;

private:
    SerialPort& inner_;
    bool connecting_ = false; // open, and the network device not reached yet
};

} // namespace qx200
