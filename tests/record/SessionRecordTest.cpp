#include "record/SessionRecord.h"
#include "console/program/ConsoleRecorder.h"
#include "support/EventLoop.h"
#include "support/FakeSerialPort.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qx200::record {
namespace {

using qx200::testing::FakeSerialPort;
using qx200::testing::runFor;

std::vector<Line> recordLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::vector<Line> lines;
    for (const QByteArray& text : file.readAll().split('\n')) {
        if (const auto line = parseLine(text.toStdString()))
            lines.push_back(*line);
    }
    return lines;
}

struct Seen {
    Event event;
    std::string com;
    std::string device;
    std::string bytes;
    friend bool operator==(const Seen&, const Seen&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Seen& seen)
    {
        return out << eventName(seen.event) << ' ' << seen.com << ' ' << seen.device << " '"
                   << escapeBytes(seen.bytes) << "'";
    }
};

std::vector<Seen> seen(const std::vector<Line>& lines)
{
    std::vector<Seen> result;
    for (const Line& line : lines)
        result.push_back({line.event, line.com, line.device, line.bytes});
    return result;
}

TEST(SessionRecord, PortEventsSendsAndReceptionsAreRecordedInOrderWithTheirPort)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("session.tsv");
    {
        SessionRecord record(path);
        FakeSerialPort fake;
        ObservedPort port(fake);
        ConsoleRecorder recorder(record, port);
        port.OnFault = [](const QString&) {};
        fake.missingPorts[2] = "COM2 (fake2): No such file or directory";

        port.CommPort(1);
        port.Settings("19200,N,8,1");
        port.PortOpen(false); // closing a closed port is nothing
        port.PortOpen(true);
        port.Settings("19200,N,8,1"); // no change
        port.Output("C00\r");
        fake.pending = "\x06";
        EXPECT_EQ(port.Input(), "\x06");
        EXPECT_EQ(port.Input(), ""); // nothing arrived: nothing recorded
        fake.OnFault("COM1 (fake1): the device went away");
        port.Output("C01\r");
        fake.OnRecover();
        port.Output("C02\r");
        port.Settings("9600,N,8,1");
        port.PortOpen(false);
        port.CommPort(2);
        EXPECT_THROW(port.PortOpen(true), PortError);
    }
    const std::vector<Seen> expected = {
        {Event::Speed, "COM1", "fake1", "19200,N,8,1"},
        {Event::Opened, "COM1", "fake1", "19200,N,8,1"},
        {Event::Sent, "COM1", "fake1", "C00\r"},
        {Event::Received, "COM1", "fake1", "\x06"},
        {Event::Lost, "COM1", "fake1", "COM1 (fake1): the device went away"},
        {Event::Unsent, "COM1", "fake1", "C01\r"},
        {Event::Back, "COM1", "fake1", ""},
        {Event::Sent, "COM1", "fake1", "C02\r"},
        {Event::Speed, "COM1", "fake1", "9600,N,8,1"},
        {Event::Closed, "COM1", "fake1", ""},
        {Event::OpenFailed, "COM2", "fake2", "COM2 (fake2): No such file or directory"},
    };
    const std::vector<Line> lines = recordLines(path);
    EXPECT_EQ(seen(lines), expected);
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_LT(lines[i - 1].time, lines[i].time);
}

TEST(SessionRecord, StartsWithTheFieldNamesAndAppendsToAnExistingFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("session.tsv");
    for (int session = 0; session < 2; ++session) {
        SessionRecord record(path);
        record.add(Event::Sent, 1, "/dev/x", "C00\r");
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.startsWith(QByteArray::fromStdString(std::string(HeaderLine))));
    EXPECT_EQ(text.count(QByteArray::fromStdString(std::string(HeaderLine))), 1);
    EXPECT_EQ(recordLines(path).size(), 2u);
}

// Two consoles asked to record into one file (--record FILE twice): the second keeps its own
// file beside it, and each file holds one session, whole, its times in order.
TEST(SessionRecord, TwoRecordsAskedForOneFileKeepOneEach)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("session.tsv");
    constexpr int Lines = 2000;          // within the queue's bound
    const QByteArray bytes(700, '\x1B'); // a line of several KiB
    QString secondFile;
    {
        SessionRecord first(path);
        SessionRecord second(path);
        secondFile = second.file();
        std::thread other([&] {
            for (int i = 0; i < Lines; ++i)
                second.add(Event::Received, 2, "/dev/b", bytes);
        });
        for (int i = 0; i < Lines; ++i)
            first.add(Event::Received, 1, "/dev/a", bytes);
        other.join();
        EXPECT_EQ(first.file(), path);
    }
    EXPECT_EQ(QFileInfo(secondFile).dir(), QFileInfo(path).dir());
    ASSERT_NE(secondFile, path);
    for (const auto& [file, com] : {std::pair{path, "COM1"}, std::pair{secondFile, "COM2"}}) {
        QFile text(file);
        ASSERT_TRUE(text.open(QIODevice::ReadOnly));
        EXPECT_EQ(text.readAll().count("time\t"), 1) << "one header";
        const std::vector<Line> lines = recordLines(file);
        ASSERT_EQ(lines.size(), std::size_t(Lines));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].com, com);
            EXPECT_TRUE(i == 0 || lines[i].time > lines[i - 1].time) << i;
        }
    }
}

// A session longer than its folder's bound goes on in new files, so that the bound holds.
TEST(SessionRecord, ASessionPastTheFolderBoundGoesOnInANewFile)
{
    QTemporaryDir dir;
    constexpr qint64 Bound = 8 << 10;
    SessionRecord record(dir.filePath(sessionFileName(Time{} + std::chrono::seconds(1))),
                         SessionRecord::Folder{dir.path(), Bound});
    const QByteArray bytes(100, 'x'); // about 4 KiB a batch in the record's text
    for (int batch = 0; batch < 8; ++batch) {
        for (int i = 0; i < 10; ++i)
            record.add(Event::Received, 1, "/dev/a", bytes);
        runFor(int(SessionRecord::WritePeriod.count()) * 3);
    }
    const QFileInfoList files = QDir(dir.path()).entryInfoList(QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QFileInfo& file : files)
        EXPECT_LT(file.size(), 2 * Bound) << file.fileName().toStdString();
}

TEST(SessionRecord, LinesReachTheFileWithinOneSecond)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("session.tsv");
    SessionRecord record(path);
    QElapsedTimer clock;
    clock.start();
    record.add(Event::Sent, 1, "/dev/x", "C00\r");
    while (recordLines(path).empty() && clock.elapsed() < 3000)
        runFor(10);
    EXPECT_EQ(recordLines(path).size(), 1u);
    EXPECT_LT(clock.elapsed(), 1000);
}

// Each told with what the operator can do about its cause.
TEST(SessionRecord, AFileThatCannotBeWrittenIsReportedOnceAndTheRecordStops)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/dev/full", "Free some space"},
        {"/proc/no-such-folder/session.tsv", "Make the folder"},
        {"/sys/kernel/notes", "Choose a file this account may write"}, // refused even to root
    };
    for (const auto& [path, advice] : cases) {
        SessionRecord record(QString::fromLatin1(path));
        QStringList reports;
        record.failed = [&](const QString& text) { reports << text; };
        for (int i = 0; i < 5; ++i) {
            record.add(Event::Sent, 1, "/dev/x", "C00\r");
            runFor(150);
        }
        ASSERT_EQ(reports.size(), 1) << path;
        EXPECT_TRUE(reports[0].contains(QString::fromLatin1(path)));
        EXPECT_TRUE(reports[0].contains(QString::fromLatin1(advice))) << reports[0].toStdString();
        EXPECT_TRUE(reports[0].contains("--record FILE"));
    }
}

// A record to a pipe whose reader goes away (--record /dev/stdout | head -c 100) fails like any
// other file: told once, and the program goes on.
TEST(SessionRecord, APipeWhoseReaderGoesAwayStopsTheRecord)
{
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    SessionRecord record(QStringLiteral("/proc/self/fd/%1").arg(ends[1]));
    QStringList reports;
    record.failed = [&](const QString& text) { reports << text; };
    record.add(Event::Opened, 1, "/dev/x", "19200,N,8,1");
    char first[16];
    ASSERT_GT(::read(ends[0], first, sizeof first), 0);
    ::close(ends[0]);
    for (int i = 0; i < 3; ++i) {
        record.add(Event::Sent, 1, "/dev/x", "C00\r");
        runFor(150);
    }
    ::close(ends[1]);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].contains(QString::fromLocal8Bit(std::strerror(EPIPE))))
        << reports[0].toStdString();
}

// Bytes come faster than the file takes them (here: a pipe whose reader does not read yet).
// What goes beyond the queue's bound is counted in the record, in its place, not kept in memory.
TEST(SessionRecord, BytesBeyondTheQueueBoundAreCountedNotKept)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ::fcntl(reader, F_SETFL, 0);
    auto record = std::make_unique<SessionRecord>(path);
    record->add(Event::Opened, 1, "/dev/x", "19200,N,8,1");
    // More than the pipe holds: the writer now waits for the reader to read.
    record->add(Event::Received, 1, "/dev/x", QByteArray(256 << 10, 'F'));
    runFor(300);
    constexpr std::size_t kept = 4; // just fit in the queue
    const QByteArray chunk(SessionRecord::MaxQueuedBytes / kept - 1024, 'A');
    constexpr int Chunks = 6;
    for (int i = 0; i < Chunks; ++i)
        record->add(Event::Received, 1, "/dev/x", chunk);
    record->add(Event::Closed, 1, "/dev/x");

    std::thread closer([&] { record.reset(); });
    std::string text;
    char buffer[1 << 16];
    for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    closer.join();
    ::close(reader);

    std::vector<Seen> events;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != text.npos; start = end + 1) {
        if (auto line = parseLine(std::string_view(text).substr(start, end - start)))
            events.push_back({line->event, line->com, line->device,
                              line->event == Event::Received ? "" : line->bytes});
    }
    std::vector<Seen> expected = {{Event::Opened, "COM1", "/dev/x", "19200,N,8,1"}};
    expected.insert(expected.end(), kept + 1, {Event::Received, "COM1", "/dev/x", ""});
    expected.push_back({Event::Unrecorded, "COM1", "/dev/x",
                        std::to_string(Chunks - kept) + " events, " +
                            std::to_string((Chunks - kept) * std::size_t(chunk.size())) +
                            " bytes"});
    expected.push_back({Event::Closed, "COM1", "/dev/x", ""});
    EXPECT_EQ(events, expected);
}

} // namespace
} // namespace qx200::record
