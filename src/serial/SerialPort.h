#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace qx200 {

// A failed serial operation. The text is what the operator is shown, e.g.
// "COM2 (/dev/ttyS1): No such file or directory".
class PortError : public std::runtime_error {
public:
    explicit PortError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}
    const QString& text() const noexcept { return text_; }

private:
    QString text_;
};

// The serial-communications service of the window (MSComm1). Every operation that touches the
// device may throw PortError.
class SerialPort {
public:
    static constexpr std::int16_t ReceiveEvent = 2; // comEvReceive: received bytes are waiting

    virtual ~SerialPort() = default;

    // Port number the next opening uses: 1 = COM1, 2 = COM2. Set while closed.
    virtual void CommPort(std::int16_t port) = 0;
    virtual std::int16_t CommPort() const = 0;
    // "19200,N,8,1" or "9600,N,8,1"; takes effect at once, also on an open port.
    virtual void Settings(const QByteArray& settings) = 0;
    virtual bool PortOpen() const = 0;
    virtual void PortOpen(bool open) = 0;
    // Writes the bytes to the line, in order.
    virtual void Output(const QByteArray& bytes) = 0;
    // Every received byte waiting, in arrival order; each is handed over once.
    virtual QByteArray Input() = 0;
    // The code of the event being reported by OnComm.
    virtual std::int16_t CommEvent() const = 0;
    // The device the current port number resolves to, e.g. "/dev/ttyUSB0".
    virtual QString Device() const = 0;
    // True while the open port has a device that takes what is written; false while a network
    // device is still connecting or a lost device is away.
    virtual bool DeviceReady() const { return PortOpen(); }

    // Raised on the window's thread for each communications event.
    std::function<void()> OnComm;
    // Raised on the window's thread when an open device fails under the console (unplugged,
    // taken over); the text says what happened. The service then recovers on its own. Raised
    // again while the fault lasts when there is more to say (the text replaces the last one).
    std::function<void(const QString&)> OnFault;
    // Raised on the window's thread when the device is usable again after OnFault, and when a
    // network device that was still connecting is first reached.
    std::function<void()> OnRecover;
    // Raised on the window's thread with what the operator should know about a device that
    // stays usable (a serial server that does not set the speed).
    std::function<void(const QString&)> OnNote;
};

} // namespace qx200
