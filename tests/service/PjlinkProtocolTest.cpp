// Every request's plan and every query's answer, as tables.

#include "service/pjlink/PjlinkProtocol.h"

#include <gtest/gtest.h>

namespace qx200::pjlink {
namespace {

TEST(PjlinkProtocol, DigestOfThePublishedExample)
{
    EXPECT_EQ(digestOf("498e4a67", "JBMIAProjectorLink"), "5d8409bc1c3fa39749434aa3a5c38682");
    // Upper-case hexadecimal and the digest with a blank between random and password pass too.
    EXPECT_TRUE(
        digestMatches("5D8409BC1C3FA39749434AA3A5C38682", "498e4a67", "JBMIAProjectorLink"));
    EXPECT_TRUE(digestMatches(digestOf("498e4a67 ", "JBMIAProjectorLink"), "498e4a67",
                              "JBMIAProjectorLink"));
    EXPECT_FALSE(digestMatches(digestOf("498e4a67", "JBMIAProjectorLinX"), "498e4a67",
                               "JBMIAProjectorLink"));
}

TEST(PjlinkProtocol, SearchIsAnsweredWithAStableLocalHardwareAddress)
{
    const QByteArray address = hardwareAddressOf(QStringLiteral("hall-1"));
    EXPECT_EQ(address, hardwareAddressOf(QStringLiteral("hall-1")));
    EXPECT_NE(address, hardwareAddressOf(QStringLiteral("hall-2")));
    ASSERT_EQ(address.size(), 17);
    const int first = address.left(2).toInt(nullptr, 16);
    EXPECT_EQ(first & 0x03, 0x02); // locally administered, unicast
    EXPECT_EQ(searchAnswer("%2SRCH\r", address), "%2ACKN=" + address + '\r');
    EXPECT_EQ(searchAnswer("%2srch", address), "%2ACKN=" + address + '\r');
    EXPECT_EQ(searchAnswer("%2ACKN=" + address, address), std::nullopt);
    EXPECT_EQ(searchAnswer("%1SRCH", address), std::nullopt);
}

TEST(PjlinkProtocol, ParsesLeniently)
{
    const std::vector<std::pair<QByteArray, std::optional<Request>>> rows{
        {"%1POWR ?", Request{'1', "POWR", "?"}},
        {"%1powr 1", Request{'1', "POWR", "1"}},
        {"\n%1INPT  31 \n", Request{'1', "INPT", "31"}},
        {"%2INNM ?11", Request{'2', "INNM", "?11"}},
        {"%1CLSS", Request{'1', "CLSS", ""}},
        {"POWR ?", std::nullopt},
        {"%1PO", std::nullopt},
        {"%1PO*R ?", std::nullopt},
        {"%XPOWR ?", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [line, request] : rows)
        EXPECT_EQ(parseRequest(line), request) << line.constData();
    EXPECT_EQ(replyLine({'1', "POWR", "1"}, "OK"), "%1POWR=OK\r");
    EXPECT_EQ(greeting(std::nullopt), "PJLINK 0\r");
    EXPECT_EQ(greeting("0123abcd"), "PJLINK 1 0123abcd\r");
}

Identity hall()
{
    ProjectorConfig projector;
    projector.name = QStringLiteral("hall-1");
    projector.device = QStringLiteral("/dev/ttyUSB0");
    return identityOf(projector);
}

struct PlanRow {
    QByteArray line;
    std::optional<QByteArray> body;
    std::vector<QByteArray> lines;
    std::vector<StatusQuery> queries;
};

TEST(PjlinkProtocol, PlansEveryRequest)
{
    using Q = StatusQuery;
    const std::vector<PlanRow> rows{
        {"%1POWR ?", {}, {}, {Q::Power}},
        {"%1POWR 1", {}, {"C00"}, {}},
        {"%1POWR 0", {}, {"C01"}, {}},
        {"%1POWR 2", "ERR2", {}, {}},
        {"%1POWR", "ERR2", {}, {}},
        {"%1INPT ?", {}, {}, {Q::Input}},
        {"%1INPT 11", {}, {"C05"}, {}},
        {"%1INPT 12", {}, {"C06"}, {}},
        {"%1INPT 21", {}, {"C07"}, {}},
        {"%1INPT 31", {}, {"C04"}, {}},
        {"%1INPT 32", "ERR2", {}, {}},
        {"%1AVMT ?", {}, {}, {Q::Mute}},
        {"%1AVMT 11", {}, {"C0D"}, {}},
        {"%1AVMT 10", {}, {"C0E"}, {}},
        {"%1AVMT 21", {}, {"C0B"}, {}},
        {"%1AVMT 20", {}, {"C0C"}, {}},
        {"%1AVMT 31", {}, {"C0D", "C0B"}, {}},
        {"%1AVMT 30", {}, {"C0E", "C0C"}, {}},
        {"%1AVMT 41", "ERR2", {}, {}},
        {"%1AVMT 12", "ERR2", {}, {}},
        {"%1ERST ?", {}, {}, {Q::Power}},
        {"%1ERST 0", "ERR2", {}, {}},
        {"%1LAMP ?", {}, {}, {Q::LampHours, Q::LampMode}},
        {"%1INST ?", "11 12 21 31", {}, {}},
        {"%1NAME ?", "hall-1", {}, {}},
        {"%1INF1 ?", "qx200d", {}, {}},
        {"%1INF2 ?", "QX200 on RS-232C", {}, {}},
        {"%1INFO ?", "serial /dev/ttyUSB0", {}, {}},
        {"%1CLSS ?", "2", {}, {}},
        {"%1CLSS 2", "ERR2", {}, {}},
        {"%1XXXX ?", "ERR1", {}, {}},
        {"%2FREZ ?", "0", {}, {}},
        {"%2FREZ 1", {}, {"C43"}, {}},
        {"%2FREZ 0", {}, {"C44"}, {}},
        {"%2FREZ 2", "ERR2", {}, {}},
        {"%2SVOL 1", {}, {"C09"}, {}},
        {"%2SVOL 0", {}, {"C0A"}, {}},
        {"%2SVOL ?", "ERR2", {}, {}},
        {"%2INNM ?11", "PC1", {}, {}},
        {"%2INNM ?31", "HDMI", {}, {}},
        {"%2INNM ?32", "ERR2", {}, {}},
        {"%2INST ?", "11 12 21 31", {}, {}},
        {"%2INPT 21", {}, {"C07"}, {}},
        {"%2INPT ?", {}, {}, {Q::Input}},
        {"%2POWR ?", "ERR1", {}, {}},
        {"%2FILT ?", "ERR1", {}, {}},
        {"%2IRES ?", "ERR1", {}, {}},
        {"%2RRES ?", "ERR1", {}, {}},
        {"%2SNUM ?", "ERR1", {}, {}},
        {"%2SVER ?", "ERR1", {}, {}},
        {"%2MVOL 1", "ERR1", {}, {}},
        {"%2RLMP ?", "ERR1", {}, {}},
        {"%2RFIL ?", "ERR1", {}, {}},
        {"%3POWR ?", "ERR1", {}, {}},
        {"%1POWR " + QByteArray(129, '1'), "ERR2", {}, {}},
    };
    for (const PlanRow& row : rows) {
        const Plan p = plan(*parseRequest(row.line), hall());
        EXPECT_EQ(p.body, row.body) << row.line.constData();
        EXPECT_EQ(p.lines, row.lines) << row.line.constData();
        EXPECT_EQ(p.queries, row.queries) << row.line.constData();
    }
}

TEST(PjlinkProtocol, ConfiguredIdentityAndInputs)
{
    ProjectorConfig projector;
    projector.name = QStringLiteral("hall-1");
    projector.pjlink = PjlinkConfig{};
    projector.pjlink->name = QStringLiteral("Main hall");
    projector.pjlink->model = QStringLiteral("QX-200");
    projector.pjlink->inputs = {"11", "12", "22", "32"};
    const Identity identity = identityOf(projector);
    EXPECT_EQ(plan({'1', "NAME", "?"}, identity).body, "Main hall");
    EXPECT_EQ(plan({'1', "INF2", "?"}, identity).body, "QX-200");
    EXPECT_EQ(plan({'1', "INST", "?"}, identity).body, "11 12 22 32");
    EXPECT_EQ(plan({'1', "INPT", "32"}, identity).lines, std::vector<QByteArray>{"C04"});
    EXPECT_EQ(plan({'1', "INPT", "31"}, identity).body, "ERR2");
    Readings readings;
    readings.input = InputSource::Video;
    EXPECT_EQ(answerQuery({'1', "INPT", "?"}, readings, identity), "22");
}

struct AnswerRow {
    QByteArray command;
    Readings readings;
    QByteArray body;
};

Readings withPower(std::optional<PowerState> state, PowerFaults faults = {})
{
    Readings r;
    r.power = PowerReading{state, faults};
    return r;
}

Readings withMute(PictureSignal signal, bool video, bool audio)
{
    Readings r;
    r.mute = MuteReading{signal, video, audio};
    return r;
}

Readings withLamps(std::int64_t hours, LampReading lamps)
{
    Readings r;
    r.lampHours = LampHours{hours};
    r.lamps = lamps;
    return r;
}

TEST(PjlinkProtocol, AnswersQueriesFromReadings)
{
    using P = PowerState;
    const auto present = PictureSignal::Present;
    Readings hdmi;
    hdmi.input = InputSource::Input4;
    const std::vector<AnswerRow> rows{
        {"POWR", withPower(P::Standby), "0"},
        {"POWR", withPower(P::On), "1"},
        {"POWR", withPower(P::CoolingDown), "2"},
        {"POWR", withPower(P::WarmUp), "3"},
        {"POWR", withPower(std::nullopt, {.powerFail = true}), "ERR4"},
        {"POWR", {}, "ERR4"},
        {"INPT", hdmi, "31"},
        {"INPT", {}, "ERR4"},
        {"AVMT", withMute(present, false, false), "30"},
        {"AVMT", withMute(present, true, false), "11"},
        {"AVMT", withMute(present, false, true), "21"},
        {"AVMT", withMute(present, true, true), "31"},
        {"AVMT", withMute(PictureSignal::Standby, false, false), "ERR3"},
        {"AVMT", withMute(PictureSignal::NoSignal, false, false), "ERR3"},
        {"ERST", withPower(P::On), "000000"},
        {"ERST", withPower(P::On, {.temperatureWarning = true}), "001000"},
        {"ERST", withPower(P::CoolingDown, {.lampFailure = true}), "020000"},
        {"ERST", withPower(std::nullopt, {.powerFail = true}), "000002"},
        {"ERST", withPower(P::On, {.powerManagement = true, .noKeyInput = true}), "000000"},
        {"LAMP", withLamps(1234, {LampMode::TwoLamps, true, false}), "1234 1 1234 0"},
        {"LAMP", withLamps(7, {LampMode::TwoLamps, true, true}), "7 1 7 1"},
        {"LAMP", withLamps(0, {LampMode::Lamp2Only, false, false}), "0 0 0 0"},
        {"LAMP", withPower(P::On), "ERR4"},
    };
    for (const AnswerRow& row : rows)
        EXPECT_EQ(answerQuery({'1', row.command, "?"}, row.readings, hall()), row.body)
            << row.command.constData() << " -> " << row.body.constData();
}

} // namespace
} // namespace qx200::pjlink
