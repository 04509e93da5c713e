// qx200-probe: opens COMn through the console's serial service in a process of its own and says
// what happened, so that tests can play a second console or a user without the rights.
//
//   qx200-probe [--port N] [--lock-dir DIR]... [--hold-ms MS] [--send TEXT]
//
// Prints "open" once the port is open, keeps it for MS milliseconds, then writes TEXT (escapes
// \r and \n understood), prints "sent" and closes. On a failure prints the failure's text and
// exits with 1; on wrong arguments exits with 2.

#include "console/port/DeviceResolution.h"
#include "serial/QtSerialPort.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <cstdio>

namespace {

void say(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray unescape(QString text)
{
    text.replace(QStringLiteral("\\r"), QStringLiteral("\r"));
    text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    return text.toLatin1();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);

    std::int16_t portNumber = 1;
    QStringList lockDirs;
    int holdMs = 0;
    QByteArray send;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& name = args[i];
        if (i + 1 >= args.size()) {
            say(QStringLiteral("qx200-probe: %1 needs a value").arg(name));
            return 2;
        }
        const QString value = args[++i];
        if (name == QLatin1String("--port"))
            portNumber = std::int16_t(value.toShort());
        else if (name == QLatin1String("--lock-dir"))
            lockDirs << value;
        else if (name == QLatin1String("--hold-ms"))
            holdMs = value.toInt();
        else if (name == QLatin1String("--send"))
            send = unescape(value);
        else {
            say(QStringLiteral("qx200-probe: unknown option %1").arg(name));
            return 2;
        }
    }

    qx200::QtSerialPort port{qx200::devicePathFor};
    if (!lockDirs.isEmpty())
        port.lockDirectories = lockDirs;
    try {
        port.CommPort(portNumber);
        port.Settings("19200,N,8,1");
        port.PortOpen(true);
        say(QStringLiteral("open"));
        runFor(holdMs);
        if (!send.isEmpty()) {
            port.Output(send);
            runFor(200); // the bytes leave through the event loop
            say(QStringLiteral("sent"));
        }
        port.PortOpen(false);
    } catch (const qx200::PortError& error) {
        say(error.text());
        return 1;
    }
    return 0;
}
