#include "serial/QtSerialPort.h"

#include <utility>

namespace qx200 {

QtSerialPort::QtSerialPort(DeviceLookup deviceFor, QObject* parent)
    : QObject(parent), deviceFor_(std::move(deviceFor))
{
    connect(&line_, &SerialLine::received, this, [this] {
        event_ = ReceiveEvent;
        if (OnComm)
            OnComm();
    });
    connect(&line_, &SerialLine::lost, this, [this](const QString& reason) {
        if (OnFault)
            OnFault(name() + ": " + reason);
    });
    connect(&line_, &SerialLine::dropped, this, [this](qint64 lines) {
        if (OnFault)
            OnFault(name() +
                    QStringLiteral(": device not reading, %1 line(s) not sent").arg(lines));
    });
    connect(&line_, &SerialLine::told, this, [this](const QString& text) {
        if (OnNote)
            OnNote(name() + ": " + text);
    });
    // A network device reached at last is usable from now on, as one back after a fault.
    for (const auto signal : {&SerialLine::back, &SerialLine::connected}) {
        connect(&line_, signal, this, [this] {
            if (OnRecover)
                OnRecover();
        });
    }
}

QString QtSerialPort::name() const
{
    return QStringLiteral("COM%1 (%2)").arg(commPort_).arg(Device());
}

void QtSerialPort::fail(const QString& what) const
{
    throw PortError(name() + ": " + what);
}

void QtSerialPort::CommPort(std::int16_t port)
{
    if (PortOpen())
        fail(QStringLiteral("port already open"));
    if (port < 1)
        throw PortError(QStringLiteral("COM%1: invalid port number").arg(port));
    commPort_ = port;
}

void QtSerialPort::Settings(const QByteArray& settings)
{
    const auto parsed = parseSettings(settings);
    if (!parsed)
        fail(QStringLiteral("invalid settings \"%1\"").arg(QString::fromLatin1(settings)));
    if (const QString refused = line_.apply(*parsed); !refused.isEmpty())
        fail(refused);
}

void QtSerialPort::PortOpen(bool open)
{
    if (!open) {
        line_.close();
        return;
    }
    if (PortOpen())
        fail(QStringLiteral("port already open"));
    QString malformed;
    const auto address = parseDeviceAddress(Device(), &malformed);
    if (!address)
        throw PortError(QStringLiteral("COM%1: %2").arg(commPort_).arg(malformed));
    if (const QString failed = line_.open(*address, line_.settings()); !failed.isEmpty())
        fail(failed);
}

void QtSerialPort::Output(const QByteArray& bytes)
{
    if (!PortOpen())
        fail(QStringLiteral("port not open"));
    line_.write(bytes);
}

QByteArray QtSerialPort::Input()
{
    event_ = 0;
    return line_.readAll();
}

} // namespace qx200
