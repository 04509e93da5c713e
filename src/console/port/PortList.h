#pragma once

#include "serial/DeviceLock.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace qx200 {

// One serial device of this machine, as --list-ports shows it.
struct SerialDeviceInfo {
    QString tty;          // "/dev/ttyUSB0"
    QString byId;         // "/dev/serial/by-id/usb-...-if00-port0"; empty when there is none
    QString driver;       // "ftdi_sio"; empty when the kernel names none
    QString usbId;        // "0403:6001"; empty for a device that is not on USB
    QString serialNumber; // the USB serial number, when the device has one
    std::optional<DeviceHolder> holder;
};

// Where the port list looks: this machine's places unless a test points elsewhere.
struct PortListPlaces {
    QString byIdDir = QStringLiteral("/dev/serial/by-id");
    QString sysClassTty = QStringLiteral("/sys/class/tty");
    QStringList lockDirs{QStringLiteral("/var/lock"), QStringLiteral("/run/lock")};
};

// What the places tell of one tty: its by-id name, the driver and who holds it.
SerialDeviceInfo describeSerialDevice(const QString& tty, const PortListPlaces& places = {});

// The serial devices the system reports (pseudo-terminals are none), by tty name.
QList<SerialDeviceInfo> findSerialDevices(const PortListPlaces& places = {});

// "/dev/serial/by-id/usb-X-if00-port0 -> /dev/ttyUSB0  driver ftdi_sio  usb 0403:6001
// serial A1B2C3  in use by another program (PID 42, minicom)", on one line; the parts not
// known are left out.
QString portLine(const SerialDeviceInfo& device);

} // namespace qx200
