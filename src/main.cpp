#include "Form1.h"
#include "console/QtSerialPort.h"
#include "panel/Appearance.h"
#include "record/ConsoleRecorder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <optional>

namespace {

// The session record's options: --record FILE, --no-record.
qx200::record::SessionRecordOptions recordOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption file(QStringLiteral("record"),
                                  QStringLiteral("Record the session in FILE."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption off(QStringLiteral("no-record"),
                                 QStringLiteral("Keep no record of the session."));
    parser.addOptions({file, off});
    parser.parse(arguments);
    return {!parser.isSet(off), parser.value(file)};
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    qx200::registerFontSubstitutions();

    qx200::QtSerialPort comm;
    qx200::ObservedPort port(comm);
    const auto record = qx200::record::startSessionRecord(recordOptions(app.arguments()));
    std::optional<qx200::ConsoleRecorder> recorder;
    if (record)
        recorder.emplace(*record, port);
    qx200::Form1 window(port);
    if (recorder)
        recorder->watch(window);
    window.dispatch([&] { window.Form_Load(); });
    window.show();
    return QApplication::exec();
}
