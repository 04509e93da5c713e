#include "console/Form1.h"
#include "console/panel/Appearance.h"
#include "console/port/DeviceResolution.h"
#include "console/program/CommandLine.h"
#include "console/program/ConsoleRecorder.h"
#include "console/program/DisplayCheck.h"
#include "serial/QtSerialPort.h"
#include "serial/QuitSignals.h"

#include <QApplication>
#include <cstdio>
#include <optional>

int main(int argc, char** argv)
{
    // The command line and the device choices are read before QApplication, which needs a
    // display: --help, --version, --list-ports and their errors work without one.
    QCoreApplication::setApplicationName(QStringLiteral("qx200-control"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QX200_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const qx200::CommandLine command = qx200::parseConsoleCommandLine(arguments);
    if (command.action != qx200::CommandLine::Action::Run)
        return qx200::answerCommandLine(command);
    QString devicesError;
    qx200::DeviceChoices devices =
        qx200::readDeviceChoices(QProcessEnvironment::systemEnvironment(), &devicesError);
    devices.commandLine = command.options.devices;
    if (devicesError.isEmpty())
        devicesError = qx200::checkDevices(devices, {1, 2});
    if (!devicesError.isEmpty()) {
        std::fprintf(stderr, "qx200-control: %s\n", qPrintable(devicesError));
        return 1;
    }
    if (const auto missing = qx200::missingDisplay(qx200::displayRequest(argc, argv))) {
        std::fprintf(stderr, "%s\n", missing->c_str());
        return 1;
    }
    qx200::QuitSignals quitSignals; // before the application object starts any thread
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("qx200-control"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    qx200::registerFontSubstitutions();

    qx200::QtSerialPort comm(
        [devices](std::int16_t port) { return qx200::resolveDevice(port, devices).device; });
    // The session record sees every operation on the port and the window's status line.
    qx200::ObservedPort port(comm);
    const auto record =
        qx200::record::startSessionRecord({!command.options.noRecord, command.options.recordFile});
    // What the console talks to, and where this session is kept: the first thing to check when
    // a projector does not answer. Keys of the settings file it does not know come first.
    for (const QString& mistake : devices.settingsMistakes)
        std::fprintf(stderr, "qx200-control: %s\n", qPrintable(mistake));
    for (const std::int16_t number : {1, 2})
        std::fprintf(stderr, "qx200-control: %s\n", qPrintable(qx200::deviceLine(number, devices)));
    std::fprintf(stderr, "qx200-control: session record: %s\n",
                 record ? qPrintable(record->file()) : "off");
    std::optional<qx200::ConsoleRecorder> recorder;
    if (record)
        recorder.emplace(*record, port);
    qx200::Form1 window(port);
    if (recorder)
        recorder->watch(window);
    quitSignals.listen([&] { window.dispatch([&] { window.Command16_Click(); }); });
    window.dispatch([&] { window.Form_Load(); });
    window.show();
    return quitSignals.received() ? 0 : QApplication::exec();
}
