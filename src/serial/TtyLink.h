#pragma once

#include "serial/DeviceLink.h"
#include "serial/DeviceLock.h"

#include <QSerialPort>
#include <QSocketNotifier>

namespace qx200 {

// A local tty. A path that is a link (a by-id name, the simulator's) is resolved again at every
// opening, and the device is opened and locked under its real name. Lines are written straight
// to the device without waiting: a device that takes nothing for now is not a lost one.
class TtyLink final : public DeviceLink {
    Q_OBJECT

public:
    TtyLink(const QString& path, const QStringList& lockDirectories);
    ~TtyLink() override { close(); }

    bool immediate() const override { return true; }
    void open(const LineSettings& settings) override;
    void close() override;
    void apply(const LineSettings& settings) override;
    qint64 write(QByteArrayView bytes) override;
    QByteArray readAll() override { return port_.isOpen() ? port_.readAll() : QByteArray(); }

private:
    void portFailed(QSerialPort::SerialPortError error);
    void watchWritable();

    QString path_;
    QStringList lockDirectories_;
    QSerialPort port_;
    DeviceLock lock_;
    QSocketNotifier* writable_ = nullptr; // while the device takes no more
};

} // namespace qx200
