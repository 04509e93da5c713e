// Serial servers that misbehave, scripted on 127.0.0.1, under a console on its real serial
// service: each is told to the operator once, as plain text, and costs no more than its bytes.

#include "e2e/FaultSupport.h"
#include "support/TelnetFlood.h"

#include <QMessageBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>

namespace qx200::testing {
namespace {

constexpr char Iac = char(255), Will = char(251), Wont = char(252), Dont = char(254),
               ComPort = char(44);

QByteArray bytes(std::initializer_list<char> values)
{
    return QByteArray(values.begin(), qsizetype(values.size()));
}

// What the server does with each connection it accepts.
using Script = std::function<void(QTcpSocket&)>;

struct HostileCase {
    const char* name;
    const char* scheme; // "tcp" or "rfc2217"
    Script script;
    const char* told; // what the operator's notice says after the port's name
};

void PrintTo(const HostileCase& c, std::ostream* os)
{
    *os << c.name;
}

// Says what a page would take for markup and hangs up.
void markup(QTcpSocket& client)
{
    client.write("<img src=/dev/zero>\r\n");
    client.disconnectFromHost();
}

// Declines the COM-PORT option, then carries the line.
void declineComPort(QTcpSocket& client)
{
    client.write(bytes({Iac, Dont, ComPort, Iac, Wont, ComPort, Iac, Will, char(0)}));
    QObject::connect(&client, &QTcpSocket::readyRead, &client, [&client] { client.readAll(); });
}

class HostileServer : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileServer, IsToldOnceAsPlainText)
{
    const HostileCase& c = GetParam();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* client = server.nextPendingConnection())
            c.script(*client);
    });
    FaultConsole console(QStringLiteral("%1:127.0.0.1:%2").arg(c.scheme).arg(server.serverPort()));
    // What the port tells the window, as a fault or as a note.
    QStringList told;
    for (auto* callback : {&console.recorder.OnFault, &console.recorder.OnNote}) {
        *callback = [&told, own = *callback](const QString& text) {
            told << text;
            own(text);
        };
    }

    ASSERT_TRUE(waitUntil([&] { return !told.isEmpty(); }, 8000)) << "nothing told";
    runFor(1500); // reconnections meanwhile tell nothing new
    ASSERT_EQ(told.size(), 1) << told.join('\n').toStdString();
    EXPECT_EQ(told.front().section(QStringLiteral("): "), 1), QString::fromLatin1(c.told));
    const QMessageBox* notice = console.form->notice().box();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->textFormat(), Qt::PlainText);
    EXPECT_TRUE(notice->text().contains(told.front())) << notice->text().toStdString();
}

const HostileCase HostileCases[] = {
    {"WordsThatLookLikeMarkup", "tcp", markup,
     "the serial server refused the connection: <img src=/dev/zero>"},
    {"AsksAndNeverReads", "rfc2217", floodWithRequests,
     "the serial server does not read what is sent"},
    {"DeclinesTheSpeedOption", "rfc2217", declineComPort,
     "the serial server does not set the speed: the line runs at the server's own"},
};

INSTANTIATE_TEST_SUITE_P(Cases, HostileServer, ::testing::ValuesIn(HostileCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace qx200::testing
