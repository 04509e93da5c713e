#pragma once

#include "serial/DeviceLink.h"
#include "serial/LineSettings.h"
#include "serial/OutputQueue.h"
#include "serial/SerialPort.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

namespace qx200 {

// The serial service on a real device: a local tty, or a serial server over raw TCP or Telnet
// with the COM-PORT option.
//
// Once open, the port stays the console's open port until it is closed, even when the device
// goes away underneath (an adapter pulled, a server stopped, a connection reset): the device is
// then closed at once, the operator is told once through OnFault, writes are skipped, and the
// same device is reached again with the same settings as soon as it is back (every 300 ms for a
// local tty, with a backoff up to 5 s for a server), then OnRecover. Opening a network device
// only checks its address and starts connecting; a first connection that fails is told and
// retried the same way. A new connection counts once it has lasted half a second: a server
// that cannot open its device accepts, says why, and hangs up, and that is one failure, told
// with what the server said, not a device coming and going.
//
// Lines go out through a bounded queue of whole lines. A device that stops reading is not a
// lost one: lines that do not fit are dropped whole and counted, OnFault says how many, and
// OnRecover follows once the device has taken the rest.
class QtSerialPort final : public QObject, public SerialPort {
    Q_OBJECT

public:
    static constexpr int ReconnectMs = 300;
    static constexpr int MaxBackoffMs = 5000;
    // How long a new network connection must last before the device counts as back.
    static constexpr int SettleMs = 500;

    // The device behind a port number is the owner's to say: the console's COMn rule, or the
    // one device of a projector.
    using DeviceLookup = std::function<QString(std::int16_t)>;

    explicit QtSerialPort(DeviceLookup deviceFor, QObject* parent = nullptr);
    ~QtSerialPort() override;

    void CommPort(std::int16_t port) override;
    std::int16_t CommPort() const override { return commPort_; }
    void Settings(const QByteArray& settings) override;
    bool PortOpen() const override { return open_; }
    void PortOpen(bool open) override;
    void Output(const QByteArray& bytes) override;
    QByteArray Input() override;
    std::int16_t CommEvent() const override { return event_; }
    QString Device() const override { return deviceFor_(commPort_); }

    // True while the console's open port has no device behind it (also while connecting).
    bool deviceLost() const { return open_ && !up_; }
    bool DeviceReady() const override { return open_ && up_; }
    // Bytes written but not yet taken by the device.
    qsizetype pendingOutput() const { return queue_.bytes(); }
    // Where lock files of other programs are looked for.
    QStringList lockDirectories{QStringLiteral("/var/lock"), QStringLiteral("/run/lock")};

private:
    // What the operator was last told and not yet told is over.
    enum class Notice { None, NotReading, Lost };

    [[noreturn]] void fail(const QString& what) const;
    QString name() const; // "COM1 (/dev/ttyS0)"
    void arrived();
    void settled();
    void linkUp();
    void linkFailed(const QString& reason);
    void retry();
    void scheduleRetry();
    void drain();
    void lineDropped();
    void showDropped();
    void endNotice();
    void tell(const QString& text);

    DeviceLookup deviceFor_;
    std::unique_ptr<DeviceLink> link_;
    OutputQueue queue_;
    QTimer retry_;
    QTimer settle_;
    int backoffMs_ = ReconnectMs;
    std::int16_t commPort_ = 1;
    LineSettings settings_;
    std::int16_t event_ = 0;
    bool open_ = false;
    bool up_ = false;
    Notice notice_ = Notice::None;
    bool droppedToTell_ = false;
    bool held_ = false; // bytes arrived while a connection was on trial
};

} // namespace qx200
