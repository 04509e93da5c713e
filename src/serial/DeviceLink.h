#pragma once

#include "serial/DeviceAddress.h"
#include "serial/LineSettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QStringList>
#include <memory>

namespace qx200 {

// One kind of device behind a COM port: how it is reached, written and read. Failures carry the
// reason only; the serial service puts the port's name in front.
class DeviceLink : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // True when the device is reached at once (a local tty): open() then returns with the link
    // up or throws PortError. A network link's open() starts connecting and returns; up() or
    // failed() follows.
    virtual bool immediate() const = 0;
    virtual void open(const LineSettings& settings) = 0;
    virtual void close() = 0;
    virtual void apply(const LineSettings& settings) = 0;
    // Writes what the device takes now, without waiting: the count taken (fewer than offered,
    // or 0, when it takes no more for now: writable() follows), or -1 when the device is gone
    // (failed() follows).
    virtual qint64 write(QByteArrayView bytes) = 0;
    virtual QByteArray readAll() = 0;

signals:
    void up();
    void readyRead();
    void writable();
    void failed(const QString& reason);
    // Something the operator should know that is no failure: the device stays usable.
    void told(const QString& text);
};

// The link for a device address: a local tty, raw TCP or Telnet with the COM-PORT option.
// Local ttys look for other programs' lock files in lockDirectories.
std::unique_ptr<DeviceLink> makeLink(const DeviceAddress& address,
                                     const QStringList& lockDirectories);

} // namespace qx200
