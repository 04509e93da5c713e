#pragma once

// A console on the real serial service, talking over a pseudo-terminal either to the projector
// simulator program or to a test that holds the far end itself. The test acts through the
// widgets, as an operator would, and waits on the running event loop.

#include "console/Form1.h"
#include "console/port/DeviceResolution.h"
#include "serial/QtSerialPort.h"
#include "support/PseudoTerminal.h"
#include "support/Simulator.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qx200::testing {

// What the receive trace and the status line showed right after one handler had run.
struct Snapshot {
    enum Kind { Receive, ReplyWindowEnd, TraceClear };
    Kind kind;
    std::string rxd;    // Label12
    std::string status; // Label22
    qint64 atMs;        // since the console started
};

inline void PrintTo(const Snapshot& s, std::ostream* os)
{
    static const char* const kinds[] = {"receive", "Timer2", "Timer4"};
    *os << s.atMs << " ms " << kinds[s.kind] << ": RXD \"" << s.rxd << "\" STATUS \"" << s.status
        << "\"";
}

class EndToEnd : public ::testing::Test {
protected:
    // Generous: the suite runs beside another on a small, busy machine.
    static constexpr int Patience = 10000;

    void TearDown() override
    {
        form.reset();
        port.reset();
        qunsetenv("QX200_COM1");
        simulator.reset();
        peer.reset();
    }

    // The simulator program with these switches stands behind COM1.
    void startOnSimulator(const QStringList& options)
    {
        simulator = std::make_unique<Simulator>(options);
        startConsole(simulator->link());
    }

    // The test itself stands behind COM1 and holds the master of the pseudo-terminal.
    void startOnPeer()
    {
        peer = std::make_unique<PseudoTerminal>();
        startConsole(peer->link());
    }

    // Polls on the running event loop until the condition holds or the patience runs out.
    template <class Condition> static bool waitUntil(Condition condition, int timeoutMs = Patience)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!condition()) {
            if (deadline.hasExpired())
                return condition();
            QTest::qWait(10);
        }
        return true;
    }

    QPushButton* button(const char* name) const
    {
        auto* found = form->findChild<QPushButton*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }

    // Types a line into the free-command box and clicks "SEND".
    void typeAndSend(const QString& text) const
    {
        form->Text1->setText(text);
        click("Command95");
    }

    // Waits until the last reply window and trace clearing are over: the next reply then starts
    // a fresh collection and the status line starts empty, so what it shows afterwards is that
    // reply's decoding and nothing older.
    void waitUntilQuiet() const
    {
        EXPECT_TRUE(waitUntil([this] {
            return !form->Timer2->isActive() && !form->Timer4->isActive();
        })) << "the reply window or the trace clearing never ended";
    }

    // Sends a status query with `send` and returns the status line as the receive event that
    // completed the reply (its CR) left it.
    template <class Send> std::string ask(Send send)
    {
        waitUntilQuiet();
        const std::size_t from = history.size();
        send();
        std::optional<Snapshot> complete;
        waitUntil([&] { return (complete = lastReceiveSince(from, "CR ")).has_value(); });
        if (!complete) {
            ADD_FAILURE() << "no complete reply; seen:\n" << describe(from);
            return "<no reply>";
        }
        return complete->status;
    }
    std::string ask(const char* queryButton)
    {
        return ask([&] { click(queryButton); });
    }
    std::string askTyped(const QString& query)
    {
        return ask([&] { typeAndSend(query); });
    }

    // Clicks a command button and waits for the projector's acknowledgement.
    void command(const char* name)
    {
        const std::size_t from = history.size();
        click(name);
        EXPECT_TRUE(waitUntil([&] { return lastReceiveSince(from, "ACK ").has_value(); }))
            << name << " was not acknowledged; seen:\n"
            << describe(from);
    }

    // The latest receive event from `from` on whose receive trace ends with `ending`.
    std::optional<Snapshot> lastReceiveSince(std::size_t from, const std::string& ending) const
    {
        for (std::size_t i = history.size(); i > from; --i) {
            const Snapshot& s = history[i - 1];
            if (s.kind == Snapshot::Receive && s.rxd.ends_with(ending))
                return s;
        }
        return std::nullopt;
    }
    std::vector<Snapshot> since(std::size_t from, Snapshot::Kind kind) const
    {
        std::vector<Snapshot> found;
        for (std::size_t i = from; i < history.size(); ++i) {
            if (history[i].kind == kind)
                found.push_back(history[i]);
        }
        return found;
    }
    std::string describe(std::size_t from = 0) const
    {
        std::string text;
        for (std::size_t i = from; i < history.size(); ++i)
            text += ::testing::PrintToString(history[i]) + "\n";
        return text;
    }

    std::unique_ptr<Simulator> simulator;
    std::unique_ptr<PseudoTerminal> peer;
    std::unique_ptr<QtSerialPort> port;
    std::unique_ptr<Form1> form;
    QStringList messages;
    int programEnds = 0;
    std::vector<Snapshot> history;

    // A console whose COM1 is this device, opened and shown on the full service panel.
    void startConsole(const QString& device)
    {
        qputenv("QX200_COM1", QFile::encodeName(device));
        port = std::make_unique<QtSerialPort>(devicePathFor);
        form = std::make_unique<Form1>(*port);
        form->messageBox = [this](const QString& text) { messages << text; };
        form->endProgram = [this] { ++programEnds; };
        clock_.start();

        // Observers that run after the console's own handler for the same event.
        const auto onComm = port->OnComm;
        port->OnComm = [this, onComm] {
            onComm();
            record(Snapshot::Receive);
        };
        QObject::connect(form->Timer2, &QTimer::timeout, form.get(),
                         [this] { record(Snapshot::ReplyWindowEnd); });
        QObject::connect(form->Timer4, &QTimer::timeout, form.get(),
                         [this] { record(Snapshot::TraceClear); });

        form->dispatch([this] { form->Form_Load(); });
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        ASSERT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
        ASSERT_TRUE(port->PortOpen());

        // Ctrl+K and a double-click on the logo open the full service panel, where every
        // status button and the free-command line are in sight.
        form->Text1->setFocus();
        QTest::keyClick(form->Text1, Qt::Key_K, Qt::ControlModifier);
        QTest::mouseDClick(form->Image1, Qt::LeftButton);
        ASSERT_EQ(form->outerHeight(), 9100.0f);
        form->Text1->clear();
    }

private:
    void record(Snapshot::Kind kind)
    {
        history.push_back(Snapshot{kind, form->Label12->text().toStdString(),
                                   form->Label22->text().toStdString(), clock_.elapsed()});
    }

    QElapsedTimer clock_;
};

} // namespace qx200::testing
