// Files that are not what a reader expects (a device that never ends, a FIFO without a writer
// or a reader, a sparse giant, a folder): each is refused at once
// with its real cause, without blocking and without reading it whole.

#include "console/port/DeviceResolution.h"
#include "record/SessionRecord.h"
#include "service/FleetConfig.h"
#include "sim/Replay.h"
#include "support/EventLoop.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qx200::testing {
namespace {

// Where the odd file is; made in (or linked from) the test's own folder.
using Make = QString (*)(const QTemporaryDir& dir);
// What the reader says about the file at the path.
using Reader = QString (*)(const QString& path, const QTemporaryDir& dir);

struct OddFile {
    const char* name;
    Make make;
    Reader reader;
    const char* told; // the end of what the reader says
};

void PrintTo(const OddFile& c, std::ostream* os)
{
    *os << c.name;
}

QString endlessDevice(const QTemporaryDir&)
{
    return QStringLiteral("/dev/zero");
}

QString fifo(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("fifo"));
    ::mkfifo(QFile::encodeName(path).constData(), 0600);
    return path;
}

QString folder(const QTemporaryDir& dir)
{
    return dir.path();
}

// 1 GiB of nothing: takes no room on the disk, but memory if read whole.
QString sparseGiant(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("giant.tsv"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.resize(qint64(1) << 30);
    return path;
}

QString fleetConfig(const QString& path, const QTemporaryDir&)
{
    return loadFleetConfig(path).error;
}

QString replay(const QString& path, const QTemporaryDir&)
{
    sim::SimOptions options;
    options.replay = QFile::encodeName(path).toStdString();
    try {
        sim::loadReplay(options);
    } catch (const std::runtime_error& error) {
        return QString::fromStdString(error.what());
    }
    return QStringLiteral("(read)");
}

// The console's settings file is a link to the odd file.
QString consoleSettings(const QString& path, const QTemporaryDir& dir)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    const QString settings = settingsFilePath(environment);
    QDir().mkpath(QFileInfo(settings).path());
    QFile::link(path, settings);
    QString error;
    readDeviceChoices(environment, &error);
    return error;
}

// What a console's record to the path tells once it has something to write.
QString sessionRecord(const QString& path, const QTemporaryDir&)
{
    QString told;
    {
        record::SessionRecord record(path);
        record.failed = [&told](const QString& text) { told = text; };
        record.add(record::Event::Opened, 1, QStringLiteral("/dev/ttyUSB0"), "19200,N,8,1");
        waitUntil([&] { return !told.isEmpty(); }, 5000);
    }
    return told.section(QStringLiteral(": "), 1).section(u'.', 0, 0);
}

class OddFiles : public ::testing::TestWithParam<OddFile> {};

TEST_P(OddFiles, AreRefusedAtOnceWithTheirCause)
{
    const OddFile& c = GetParam();
    const QTemporaryDir dir;
    const QString path = c.make(dir);
    const QString told = c.reader(path, dir);
    EXPECT_TRUE(told.endsWith(QString::fromLatin1(c.told))) << told.toStdString();
}

const OddFile OddFileCases[] = {
    {"ConfigThatNeverEnds", endlessDevice, fleetConfig, "/dev/zero: not a regular file"},
    {"ConfigFifoWithoutWriter", fifo, fleetConfig, "fifo: not a regular file"},
    {"ConfigFolder", folder, fleetConfig, ": a folder, not a file"},
    {"ReplayThatNeverEnds", endlessDevice, replay, "/dev/zero: not a regular file"},
    {"ReplayFifoWithoutWriter", fifo, replay, "fifo: not a regular file"},
    {"ReplaySparseGiant", sparseGiant, replay, "giant.tsv: larger than 268435456 bytes"},
    {"SettingsThatNeverEnd", endlessDevice, consoleSettings,
     "qx200-control.conf: not a regular file"},
    {"RecordFifoWithoutReader", fifo, sessionRecord, "it is a pipe that nobody reads"},
};

INSTANTIATE_TEST_SUITE_P(Cases, OddFiles, ::testing::ValuesIn(OddFileCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace qx200::testing
