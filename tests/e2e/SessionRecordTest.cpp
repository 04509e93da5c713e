// The session record of a real console on a real line: what it holds, and the simulator
// replaying it.

#include "console/Form1.h"
#include "console/port/DeviceResolution.h"
#include "console/program/ConsoleRecorder.h"
#include "serial/QtSerialPort.h"
#include "support/EventLoop.h"
#include "support/PseudoTerminal.h"
#include "support/Simulator.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>

namespace qx200 {
namespace {

using namespace record;
using testing::PseudoTerminal;
using testing::runFor;
using testing::Simulator;

// A console on the real serial service of `device`, recording to `path`. The members are in the
// program's order, so the window's closing of the port is recorded too.
class RecordedConsole {
public:
    RecordedConsole(const QString& device, const QString& path) : record(path)
    {
        qputenv("QX200_COM1", QFile::encodeName(device));
        recorder.emplace(record, port);
        form.emplace(port);
        form->messageBox = [this](const QString& text) { messages << text; };
        form->endProgram = [] {};
        recorder->watch(*form);
        form->dispatch([this] { form->Form_Load(); });
    }
    ~RecordedConsole()
    {
        form.reset();
        recorder.reset();
        qunsetenv("QX200_COM1");
    }

    void click(const char* name)
    {
        QTest::mouseClick(form->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    }
    void openServicePanel()
    {
        form->Text1->setFocus();
        QTest::keyClick(form->Text1, Qt::Key_K, Qt::ControlModifier);
        QTest::mouseDClick(form->Image1, Qt::LeftButton);
    }
    // Clicks a button and waits for its reply: the receive trace and the status line it leaves.
    // Then the reply window ends and the traces clear, as their timers would.
    std::pair<QString, QString> ask(const char* name)
    {
        click(name);
        for (int waited = 0; form->Label12->text().isEmpty() && waited < 2000; waited += 10)
            runFor(10);
        runFor(150); // the rest of the reply
        std::pair result{form->Label12->text(), form->Label22->text()};
        form->Timer2_Timer();
        form->Timer4_Timer();
        return result;
    }

    SessionRecord record;
    QtSerialPort comm{devicePathFor};
    ObservedPort port{comm};
    std::optional<ConsoleRecorder> recorder;
    std::optional<Form1> form;
    QStringList messages;
};

std::vector<Line> recordLines(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    std::vector<Line> lines;
    for (const QByteArray& text : file.readAll().split('\n')) {
        if (const auto line = parseLine(text.toStdString()))
            lines.push_back(*line);
    }
    return lines;
}

std::string bytesOf(const std::vector<Line>& lines, Event event)
{
    std::string bytes;
    for (const Line& line : lines) {
        if (line.event == event)
            bytes += line.bytes;
    }
    return bytes;
}

TEST(SessionRecordEndToEnd, HoldsEveryByteEachWayInOrderWithTimesThatGoForward)
{
    QByteArray all;
    for (int code = 0; code < 256; ++code)
        all += char(code);
    PseudoTerminal peer;
    QTemporaryDir dir;
    const QString path = dir.filePath("session.tsv");
    QByteArray peerSaw;
    QByteArray peerSent;
    {
        RecordedConsole console(peer.link(), path);
        ASSERT_TRUE(console.messages.isEmpty()) << console.messages.join('\n').toStdString();
        console.click("Command17"); // POWER ON
        peerSaw += peer.read(4, 2000);
        for (const QByteArray& reply : {QByteArray("\x06"), all.left(100), all.mid(100)}) {
            peer.write(reply);
            peerSent += reply;
            runFor(20);
        }
        console.form->dispatch([&] { console.form->Hyouji(all + all, 1); });
        peerSaw += peer.read(512, 2000);
        peer.write(all);
        peerSent += all;
        runFor(300);
    }
    const std::vector<Line> lines = recordLines(path);
    EXPECT_EQ(bytesOf(lines, Event::Sent), peerSaw.toStdString());
    EXPECT_EQ(bytesOf(lines, Event::Received), peerSent.toStdString());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().event, Event::Speed);
    EXPECT_EQ(lines.back().event, Event::Closed);
    for (const Line& line : lines) {
        EXPECT_EQ(line.com, "COM1");
        EXPECT_EQ(line.device, peer.link().toStdString());
    }
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_LT(lines[i - 1].time, lines[i].time) << "line " << i;
}

constexpr const char* StatusButtons[] = {"Command44", "Command45", "Command46",
                                         "Command47", "Command54", "Command55"};

// Power on, then every status button.
std::vector<std::pair<QString, QString>> statusSession(RecordedConsole& console)
{
    std::vector<std::pair<QString, QString>> seen{console.ask("Command17")};
    console.openServicePanel();
    for (const char* button : StatusButtons)
        seen.push_back(console.ask(button));
    return seen;
}

TEST(SessionRecordEndToEnd, TheSimulatorReplaysARecordedSession)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("session.tsv");
    std::vector<std::pair<QString, QString>> recorded;
    {
        // Warmed up at once: the replies say "on", which the replaying simulator's own projector
        // (in standby, as it never sees the power command) would not.
        Simulator sim({"--warmup-ms", "0"});
        RecordedConsole console(sim.link(), path);
        recorded = statusSession(console);
    }
    std::vector<std::string> statuses;
    for (const auto& [trace, status] : recorded) {
        ASSERT_FALSE(trace.isEmpty());
        if (!status.isEmpty())
            statuses.push_back(status.toStdString());
    }
    std::vector<std::string> recordedStatuses;
    for (const Line& line : recordLines(path)) {
        if (line.event == Event::Status)
            recordedStatuses.push_back(line.bytes);
    }
    EXPECT_EQ(recordedStatuses, statuses);
    EXPECT_GE(statuses.size(), 6u);

    Simulator replay({"--replay", path});
    RecordedConsole console(replay.link(), dir.filePath("replayed.tsv"));
    EXPECT_EQ(statusSession(console), recorded);

    // A command the record never saw gets the simulator's own answer.
    console.form->Text1->setText("CR9");
    const auto [trace, status] = console.ask("Command95");
    EXPECT_TRUE(trace.contains("Q X 2 0 0")) << trace.toStdString();
}

TEST(SessionRecordEndToEnd, AFullDiskIsToldOnceAndTheConsoleGoesOn)
{
    Simulator sim;
    RecordedConsole console(sim.link(), "/dev/full");
    console.openServicePanel();
    for (int round = 0; round < 3; ++round) {
        for (const char* button : StatusButtons) {
            const auto [trace, status] = console.ask(button);
            EXPECT_FALSE(status.isEmpty()) << button << " got " << trace.toStdString();
        }
    }
    const auto notices = console.form->findChildren<QMessageBox*>();
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0]->isVisible());
    EXPECT_EQ(notices[0]->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(notices[0]->text().contains("/dev/full"));
    EXPECT_TRUE(console.messages.isEmpty());
}

} // namespace
} // namespace qx200
