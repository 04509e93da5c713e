#include "service/LineRecorder.h"
#include "support/EventLoop.h"
#include "support/PseudoTerminal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

using record::Event;
using testing::PseudoTerminal;
using testing::waitUntil;

struct Logged {
    const char* line;
    Priority priority;
    const char* who;
    std::optional<QString> text;
};

const Logged LoggedCommands[] = {
    {"C00", Priority::Controller, "10.0.0.5 (pjlink)", "hall-1: power on by 10.0.0.5 (pjlink)"},
    {"C01\r", Priority::Controller, "alice (qx200ctl)", "hall-1: power off by alice (qx200ctl)"},
    {"C06\r", Priority::Controller, "alice (qx200ctl)", "hall-1: input pc2 by alice (qx200ctl)"},
    {"C04", Priority::Controller, "10.0.0.5 (pjlink)", "hall-1: input hdmi by 10.0.0.5 (pjlink)"},
    {"C0D", Priority::Controller, "10.0.0.5 (pjlink)",
     "hall-1: video mute on by 10.0.0.5 (pjlink)"},
    {"C0C", Priority::Controller, "10.0.0.5 (pjlink)",
     "hall-1: audio mute off by 10.0.0.5 (pjlink)"},
    {"C00", Priority::Controller, "eve\nhall-2: power off by bob",
     "hall-1: power on by eve\\x0Ahall-2: power off by bob"},
    {"CR0", Priority::Controller, "10.0.0.5 (pjlink)", std::nullopt}, // a query
    {"C00", Priority::Poller, "poller", std::nullopt},
    {"C00\r", Priority::Operator, "127.0.0.1:40312 (console)", std::nullopt},
};

TEST(LineRecorder, AControllersStateChangeIsOneLogLine)
{
    for (const Logged& row : LoggedCommands)
        EXPECT_EQ(commandLogLine("hall-1", row.line, {row.priority, QString::fromUtf8(row.who)}),
                  row.text)
            << row.line << " " << row.who;
}

TEST(LineRecorder, NoProjectorNameLeadsOutOfTheRecordsFolder)
{
    const std::pair<const char*, const char*> names[] = {
        {"hall-1", "hall-1"},     {"..", "%2E."},   {".", "%2E"},
        {".hidden", "%2Ehidden"}, {"a/b", "a%2Fb"}, {"../../etc", "%2E.%2F..%2Fetc"},
        {"Saal 3", "Saal%203"},   {"%2E", "%252E"}, {"", "%"},
    };
    for (const auto& [name, folder] : names)
        EXPECT_EQ(recordFolderName(QString::fromUtf8(name)), folder) << name;
}

// What a record's files in one folder hold, oldest first.
std::vector<record::Line> readRecord(const QString& folder, QByteArray* text)
{
    std::vector<record::Line> lines;
    for (const QString& name : QDir(folder).entryList({"*.tsv"}, QDir::Files, QDir::Name)) {
        QFile file(QDir(folder).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray all = file.readAll();
        *text += all;
        for (const QByteArray& line : all.split('\n'))
            if (auto read = record::parseLine(line.toStdString()))
                lines.push_back(*read);
    }
    return lines;
}

// A line over a pseudo-terminal, a poller's query and a controller's command answered, then the
// device gone: each line of the file carries who sent it, under a folder that the projector's
// unsafe name cannot leave.
TEST(LineRecorder, RecordsEachLineWithItsSender)
{
    QTemporaryDir records;
    PseudoTerminal pty;
    ProjectorConfig config;
    config.name = "../hall-1";
    config.device = pty.link();
    Line line(config);
    int lost = 0;
    QObject::connect(&line, &Line::lost, [&] { ++lost; });
    auto recorder = std::make_unique<LineRecorder>(line, records.path());
    line.open();
    ASSERT_TRUE(waitUntil([&] { return line.ready(); }, 3000));

    int done = 0; // the controller's command goes first
    line.submit("CR0", {Priority::Poller, "poller"}, [&](const Reply&) { ++done; });
    line.submit("C00", {Priority::Controller, "10.0.0.5 (pjlink)"}, [&](const Reply&) { ++done; });
    EXPECT_EQ(pty.read(4, 3000), "C00\r");
    pty.write("\x06");
    EXPECT_EQ(pty.read(4, 3000), "CR0\r");
    pty.write("80\r");
    ASSERT_TRUE(waitUntil([&] { return done == 2; }, 3000));
    pty.hangUp();
    ASSERT_TRUE(waitUntil([&] { return lost == 1; }, 3000));
    recorder.reset(); // writes what is queued

    EXPECT_EQ(QDir(records.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"%2E.%2Fhall-1"});
    QByteArray text;
    const auto lines = readRecord(records.filePath("%2E.%2Fhall-1"), &text);
    EXPECT_TRUE(
        text.startsWith(QByteArray::fromStdString(std::string(record::HeaderLineWithSender))));
    std::vector<std::tuple<Event, std::string, std::optional<std::string>>> seen;
    for (const auto& l : lines) {
        EXPECT_EQ(l.com, "../hall-1");
        EXPECT_EQ(l.device, pty.link().toStdString());
        const auto bytes = l.event == Event::Lost ? std::string() : l.bytes;
        if (l.event == Event::Received && !seen.empty() && std::get<0>(seen.back()) == l.event)
            std::get<1>(seen.back()) += bytes; // a reply read in pieces
        else
            seen.emplace_back(l.event, bytes, l.sender);
    }
    const decltype(seen) expected = {
        {Event::Sent, "C00\r", "10.0.0.5 (pjlink)"},
        {Event::Received, "\x06", ""},
        {Event::Sent, "CR0\r", "poller"},
        {Event::Received, "80\r", ""},
        {Event::Lost, "", ""},
    };
    EXPECT_EQ(seen, expected);
}

} // namespace
} // namespace qx200
