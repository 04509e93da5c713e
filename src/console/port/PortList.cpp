#include "console/port/PortList.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

namespace qx200 {
namespace {

// The name in `dir` that links to `tty`, if any.
QString linkTo(const QString& tty, const QString& dir)
{
    const QString target = QFileInfo(tty).canonicalFilePath();
    const QFileInfoList links = QDir(dir).entryInfoList(QDir::System | QDir::Files, QDir::Name);
    for (const QFileInfo& link : links) {
        if (link.isSymLink() && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
    return {};
}

// The kernel driver behind a tty. Recent kernels put a "serial-base" port and controller
// between the tty and the hardware; those are skipped for the driver of the hardware itself
// (8250 ports: "serial", USB adapters: "ftdi_sio", "cp210x", "cdc_acm", ...).
QString driverOf(const QString& ttyName, const QString& sysClassTty)
{
    QString device =
        QFileInfo(sysClassTty + u'/' + ttyName + QStringLiteral("/device")).canonicalFilePath();
    for (; device.startsWith(QStringLiteral("/sys/devices/"));
         device.truncate(device.lastIndexOf(u'/'))) {
        const QString driver = QFileInfo(device + QStringLiteral("/driver")).canonicalFilePath();
        if (!driver.isEmpty() && !driver.contains(QStringLiteral("/bus/serial-base/")))
            return QFileInfo(driver).fileName();
    }
    return {};
}

std::optional<DeviceHolder> holderOf(const QString& tty, const QStringList& lockDirs)
{
    for (const QString& dir : lockDirs) {
        if (auto holder = lockFileHolder(tty, dir))
            return holder;
    }
    return flockHolder(tty);
}

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

} // namespace

SerialDeviceInfo describeSerialDevice(const QString& tty, const PortListPlaces& places)
{
    SerialDeviceInfo info;
    info.tty = tty;
    info.byId = linkTo(tty, places.byIdDir);
    info.driver = driverOf(QFileInfo(tty).fileName(), places.sysClassTty);
    info.holder = holderOf(tty, places.lockDirs);
    return info;
}

QList<SerialDeviceInfo> findSerialDevices(const PortListPlaces& places)
{
    QList<SerialDeviceInfo> devices;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        SerialDeviceInfo info = describeSerialDevice(port.systemLocation(), places);
        if (port.hasVendorIdentifier() && port.hasProductIdentifier())
            info.usbId = hex4(port.vendorIdentifier()) + u':' + hex4(port.productIdentifier());
        info.serialNumber = port.serialNumber();
        devices.append(info);
    }
    std::sort(devices.begin(), devices.end(),
              [](const auto& a, const auto& b) { return a.tty < b.tty; });
    return devices;
}

QString portLine(const SerialDeviceInfo& device)
{
    QStringList parts{device.byId.isEmpty() ? device.tty
                                            : device.byId + QStringLiteral(" -> ") + device.tty};
    if (!device.driver.isEmpty())
        parts << QStringLiteral("driver ") + device.driver;
    if (!device.usbId.isEmpty())
        parts << QStringLiteral("usb ") + device.usbId;
    if (!device.serialNumber.isEmpty())
        parts << QStringLiteral("serial ") + device.serialNumber;
    if (device.holder)
        parts << inUseText(*device.holder);
    return parts.join(QStringLiteral("  "));
}

} // namespace qx200
