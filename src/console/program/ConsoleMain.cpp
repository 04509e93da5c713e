#include "console/program/ConsoleMain.h"

#include "console/Form1.h"
#include "console/panel/Appearance.h"
#include "console/port/DeviceResolution.h"
#include "console/program/CommandLine.h"
#include "console/program/ConsoleRecorder.h"
#include "console/program/DisplayCheck.h"
#include "serial/QtSerialPort.h"
#include "serial/QuitSignals.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <optional>

namespace qx200 {
namespace {

// A start refused for a reason the operator can mend, shown in a box until it is read or a stop
// signal comes.
void showStartFailure(int argc, char** argv, const QString& text)
{
    QuitSignals quitSignals;
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QMessageBox box(QMessageBox::Critical, QStringLiteral("qx200-control"),
                    QStringLiteral("The console cannot start.\n\n") + text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    quitSignals.listen([&box] { box.reject(); });
    if (!quitSignals.received())
        box.exec();
}

} // namespace

int consoleMain(int argc, char** argv, const StartWatch& reached)
{
    const auto phase = [&reached](const char* name) {
        if (reached)
            reached(name);
    };
    // The command line and the device choices are read before QApplication, which needs a
    // display: --help, --version, --list-ports and their errors work without one.
    QCoreApplication::setApplicationName(QStringLiteral("qx200-control"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QX200_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine command = parseConsoleCommandLine(arguments);
    if (command.action != CommandLine::Action::Run)
        return answerCommandLine(command);
    QString devicesError;
    DeviceChoices devices =
        readDeviceChoices(QProcessEnvironment::systemEnvironment(), &devicesError);
    devices.commandLine = command.options.devices;
    if (devicesError.isEmpty())
        devicesError = checkDevices(devices, {1, 2});
    const auto noDisplay = missingDisplay(displayRequest(argc, argv));
    if (!devicesError.isEmpty()) {
        std::fprintf(stderr, "qx200-control: %s\n", qPrintable(devicesError));
        // Launched from a desktop menu, stderr is read by nobody: the reason is shown too.
        if (!noDisplay)
            showStartFailure(argc, argv, devicesError);
        return 1;
    }
    if (noDisplay) {
        std::fprintf(stderr, "%s\n", noDisplay->c_str());
        return 1;
    }
    phase("settings");
    QuitSignals quitSignals; // before the application object starts any thread
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("qx200-control"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    registerFontSubstitutions();
    phase("application");

    QtSerialPort comm([devices](std::int16_t port) { return resolveDevice(port, devices).device; });
    // The session record sees every operation on the port and the window's status line.
    ObservedPort port(comm);
    const auto record =
        record::startSessionRecord({!command.options.noRecord, command.options.recordFile});
    // What the console talks to, and where this session is kept: the first thing to check when
    // a projector does not answer. Keys of the settings file it does not know come first.
    for (const QString& mistake : devices.settingsMistakes)
        std::fprintf(stderr, "qx200-control: %s\n", qPrintable(mistake));
    for (const std::int16_t number : {1, 2})
        std::fprintf(stderr, "qx200-control: %s\n", qPrintable(deviceLine(number, devices)));
    std::fprintf(stderr, "qx200-control: session record: %s\n",
                 record ? qPrintable(record->file()) : "off");
    std::optional<ConsoleRecorder> recorder;
    if (record)
        recorder.emplace(*record, port);
    phase("record");
    Form1 window(port);
    window.describePort = [&devices](std::int16_t number) { return deviceLine(number, devices); };
    if (recorder)
        recorder->watch(window);
    phase("window");
    quitSignals.listen([&] { window.dispatch([&] { window.Command16_Click(); }); });
    // The start-up's one modal box (a port that cannot be opened) comes first; the notice of
    // what else is wrong opens with the window.
    window.notice().holdDuring([&] {
        if (!devices.settingsMistakes.isEmpty())
            window.notice().tell(ConsoleNotice::Topic::Settings,
                                 devices.settingsMistakes.join(QLatin1Char('\n')));
        window.dispatch([&] { window.Form_Load(); });
        phase("loaded");
        window.show();
    });
    phase("shown");
    return quitSignals.received() ? 0 : QApplication::exec();
}

} // namespace qx200
