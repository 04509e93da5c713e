#include "console/QtSerialPort.h"
#include "console/Logging.h"

#include "console/DeviceResolution.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qx200 {

namespace {

template <class Value> struct Spelling {
    const char* text;
    Value value;
};
constexpr Spelling<QSerialPort::Parity> Parities[] = {
    {"N", QSerialPort::NoParity},   {"E", QSerialPort::EvenParity},  {"O", QSerialPort::OddParity},
    {"M", QSerialPort::MarkParity}, {"S", QSerialPort::SpaceParity},
};
constexpr Spelling<QSerialPort::StopBits> StopBits[] = {
    {"1", QSerialPort::OneStop},
    {"1.5", QSerialPort::OneAndHalfStop},
    {"2", QSerialPort::TwoStop},
};

template <class Value, std::size_t N>
std::optional<Value> lookUp(const Spelling<Value> (&table)[N], const QByteArray& text)
{
    for (const auto& [spelling, value] : table) {
        if (text == spelling)
            return value;
    }
    return std::nullopt;
}

} // namespace

std::optional<LineSettings> parseSettings(const QByteArray& text)
{
    const QList<QByteArray> fields = text.toUpper().split(',');
    if (fields.size() != 4)
        return std::nullopt;
    bool baudOk = false;
    bool bitsOk = false;
    const qint32 baud = fields[0].trimmed().toInt(&baudOk);
    const int dataBits = fields[2].trimmed().toInt(&bitsOk);
    const auto parity = lookUp(Parities, fields[1].trimmed());
    const auto stopBits = lookUp(StopBits, fields[3].trimmed());
    if (!baudOk || baud <= 0 || !bitsOk || dataBits < 5 || dataBits > 8 || !parity || !stopBits)
        return std::nullopt;
    return LineSettings{baud, *parity, QSerialPort::DataBits(dataBits), *stopBits};
}

QString devicePathFor(std::int16_t port)
{
    return resolveDevice(port, readDeviceChoices(QProcessEnvironment::systemEnvironment())).device;
}

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent)
{
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        event_ = ReceiveEvent;
        if (OnComm)
            OnComm();
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::deviceFailed);
    reconnect_.setInterval(ReconnectMs);
    connect(&reconnect_, &QTimer::timeout, this, &QtSerialPort::reconnect);
}

QtSerialPort::~QtSerialPort()
{
    closeDevice();
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
    if (open_)
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
    // Kept only once the device has them, so that what is kept is what is in force.
    if (port_.isOpen())
        apply(*parsed);
    settings_ = *parsed;
}

void QtSerialPort::apply(const LineSettings& settings)
{
    const bool applied = port_.setBaudRate(settings.baud) && port_.setParity(settings.parity) &&
                         port_.setDataBits(settings.dataBits) &&
                         port_.setStopBits(settings.stopBits) &&
                         port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied)
        fail(port_.errorString());
}

void QtSerialPort::PortOpen(bool open)
{
    if (!open) {
        reconnect_.stop();
        closeDevice();
        open_ = false;
        return;
    }
    if (open_)
        fail(QStringLiteral("port already open"));
    openDevice();
    open_ = true;
}

void QtSerialPort::openDevice()
{
    const QFileInfo configured(Device());
    if (!configured.exists())
        fail(QString::fromLocal8Bit(std::strerror(ENOENT)));
    // A link (by-id name, simulator) is opened and locked under its real device.
    const QString device = configured.canonicalFilePath();
    for (const QString& dir : lockDirectories) {
        if (const QString refused = lockFileRefusal(device, dir); !refused.isEmpty())
            fail(refused);
    }
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES)
        fail(QString::fromLocal8Bit(std::strerror(EACCES)) +
             QStringLiteral(" (is the user in the 'dialout' group?)"));
    if (const QString refused = lock_.acquire(device); !refused.isEmpty())
        fail(refused);

    port_.setPortName(device);
    if (!port_.open(QIODevice::ReadWrite)) {
        const QString reason = port_.error() == QSerialPort::PermissionError
                                   ? QStringLiteral("in use by another program")
                                   : port_.errorString();
        lock_.release();
        fail(reason);
    }
    try {
        apply(settings_);
    } catch (const PortError&) {
        closeDevice();
        throw;
    }
    port_.clear(); // nothing from before the opening is handed over
}

void QtSerialPort::closeDevice()
{
    port_.close();
    lock_.release();
}

// A read or resource error on an open port means the device went away: close it before
// QSerialPort reports the same error over and over, tell the operator once, and keep trying.
void QtSerialPort::deviceFailed(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError) {
        if (error != QSerialPort::NoError)
            qCDebug(logSerial) << name() << "reported" << error << port_.errorString();
        return;
    }
    if (!port_.isOpen() || reconnect_.isActive())
        return;
    const QString text = name() + QStringLiteral(": device disconnected");
    QMetaObject::invokeMethod(
        this, [this] { closeDevice(); }, Qt::QueuedConnection);
    port_.blockSignals(true); // no further reports until the device is closed
    QMetaObject::invokeMethod(
        this, [this] { port_.blockSignals(false); }, Qt::QueuedConnection);
    reconnect_.start();
    // Told after this signal has returned, so that the message box's own event loop does not
    // run inside QSerialPort's notification.
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (OnFault)
                OnFault(text);
        },
        Qt::QueuedConnection);
}

void QtSerialPort::reconnect()
{
    if (!open_) {
        reconnect_.stop();
        return;
    }
    if (port_.isOpen())
        return; // still closing the lost device
    try {
        openDevice();
        reconnect_.stop();
        if (OnRecover)
            OnRecover();
    } catch (const PortError& error) {
        // Not back yet; the next tick tries again.
        qCDebug(logSerial) << "reconnecting:" << error.text();
    }
}

void QtSerialPort::Output(const QByteArray& bytes)
{
    if (!open_)
        fail(QStringLiteral("port not open"));
    if (!port_.isOpen())
        return; // the device is gone for now; the line goes nowhere, as on a cut cable
    if (port_.write(bytes) != bytes.size())
        fail(port_.errorString());
    port_.flush(); // hand the line to the device now, not on the next turn of the event loop
}

QByteArray QtSerialPort::Input()
{
    event_ = 0;
    return port_.isOpen() ? port_.readAll() : QByteArray();
}

} // namespace qx200
