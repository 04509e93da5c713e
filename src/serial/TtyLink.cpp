#include "serial/TtyLink.h"
#include "serial/Logging.h"
#include "serial/SerialPort.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qx200 {
namespace {

[[noreturn]] void refuse(const QString& reason)
{
    throw PortError(reason);
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TtyLink::TtyLink(const QString& path, const QStringList& lockDirectories)
    : path_(path), lockDirectories_(lockDirectories)
{
    connect(&port_, &QSerialPort::readyRead, this, &DeviceLink::readyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &TtyLink::portFailed);
}

void TtyLink::open(const LineSettings& settings)
{
    close();
    const QFileInfo configured(path_);
    if (!configured.exists())
        refuse(errnoText(ENOENT));
    const QString device = configured.canonicalFilePath();
    for (const QString& dir : lockDirectories_) {
        if (const QString refused = lockFileRefusal(device, dir); !refused.isEmpty())
            refuse(refused);
    }
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES)
        refuse(errnoText(EACCES) + QStringLiteral(" (is the user in the 'dialout' group?)"));
    if (const QString refused = lock_.acquire(device); !refused.isEmpty())
        refuse(refused);

    port_.setPortName(device);
    if (!port_.open(QIODevice::ReadWrite)) {
        const QString reason = port_.error() == QSerialPort::PermissionError
                                   ? QStringLiteral("in use by another program")
                                   : port_.errorString();
        lock_.release();
        refuse(reason);
    }
    try {
        apply(settings);
    } catch (const PortError&) {
        close();
        throw;
    }
    port_.clear(); // nothing from before the opening is handed over
}

void TtyLink::close()
{
    delete writable_;
    writable_ = nullptr;
    port_.close();
    port_.blockSignals(false);
    lock_.release();
}

void TtyLink::apply(const LineSettings& settings)
{
    if (!port_.isOpen())
        return; // the next opening applies them
    const bool applied = port_.setBaudRate(settings.baud) && port_.setParity(settings.parity) &&
                         port_.setDataBits(settings.dataBits) &&
                         port_.setStopBits(settings.stopBits) &&
                         port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied)
        refuse(port_.errorString());
}

// Straight to the device, which QSerialPort opened non-blocking: the line is on its way before
// the click's handler returns, and a full output buffer shows as a short count, not an error.
qint64 TtyLink::write(QByteArrayView bytes)
{
    const ssize_t written = ::write(port_.handle(), bytes.data(), size_t(bytes.size()));
    if (written >= 0) {
        if (written < bytes.size())
            watchWritable();
        return written;
    }
    if (errno == EAGAIN || errno == EINTR) {
        watchWritable();
        return 0;
    }
    const QString reason = QStringLiteral("device disconnected (%1)").arg(errnoText(errno));
    port_.blockSignals(true);
    emit failed(reason);
    return -1;
}

void TtyLink::watchWritable()
{
    if (!writable_) {
        writable_ = new QSocketNotifier(port_.handle(), QSocketNotifier::Write, this);
        connect(writable_, &QSocketNotifier::activated, this, [this] {
            writable_->setEnabled(false);
            emit writable();
        });
    }
    writable_->setEnabled(true);
}

// A read or resource error on an open port means the device went away (a hang-up). Nothing more
// is reported until the device is closed, so that QSerialPort's repeats are not heard.
void TtyLink::portFailed(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError) {
        if (error != QSerialPort::NoError)
            qCDebug(logSerial) << port_.portName() << "reported" << error << port_.errorString();
        return;
    }
    if (!port_.isOpen())
        return;
    port_.blockSignals(true);
    emit failed(QStringLiteral("device disconnected"));
}

} // namespace qx200
