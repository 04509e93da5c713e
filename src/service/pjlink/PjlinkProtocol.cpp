#include "service/pjlink/PjlinkProtocol.h"

#include "protocol/ProjectorCommands.h"

#include <QCryptographicHash>
#include <array>

namespace qx200::pjlink {

namespace {

constexpr qsizetype MaxParameterBytes = 128;
constexpr qsizetype MaxNameBytes = 64;
constexpr qsizetype MaxInfoBytes = 32;

Plan answer(QByteArray body)
{
    return Plan{std::move(body), {}, {}};
}

Plan failure(Error error)
{
    return answer(errorText(error));
}

Plan query(std::vector<StatusQuery> queries)
{
    return Plan{std::nullopt, {}, std::move(queries)};
}

Plan lines(std::vector<QByteArray> commandLines)
{
    return Plan{std::nullopt, std::move(commandLines), {}};
}

Plan setPower(QByteArrayView parameter, const Identity&)
{
    if (parameter != "0" && parameter != "1")
        return failure(Error::OutOfParameter);
    return lines({powerCommand(parameter == "1")});
}

Plan setInput(QByteArrayView parameter, const Identity& identity)
{
    for (std::size_t i = 0; i < identity.inputs.size(); ++i)
        if (identity.inputs[i] == parameter)
            return lines({inputCommand(InputSource(i))});
    return failure(Error::OutOfParameter);
}

// "11" video mute on, "20" audio mute off, "31" both on.
Plan setMute(QByteArrayView parameter, const Identity&)
{
    if (parameter.size() != 2 || (parameter[1] != '0' && parameter[1] != '1'))
        return failure(Error::OutOfParameter);
    const bool on = parameter[1] == '1';
    switch (parameter[0]) {
    case '1':
        return lines({muteCommand(MuteTarget::Video, on)});
    case '2':
        return lines({muteCommand(MuteTarget::Audio, on)});
    case '3':
        return lines({muteCommand(MuteTarget::Video, on), muteCommand(MuteTarget::Audio, on)});
    default:
        return failure(Error::OutOfParameter);
    }
}

QByteArray inputList(const Identity& identity)
{
    QByteArray list;
    for (const QByteArray& code : identity.inputs)
        list += (list.isEmpty() ? "" : " ") + code;
    return list;
}

QByteArray powerAnswer(const Readings& readings, const Identity&)
{
    if (!readings.power || !readings.power->state)
        return errorText(Error::Failure);
    switch (*readings.power->state) {
    case PowerState::Standby:
        return "0";
    case PowerState::On:
        return "1";
    case PowerState::CoolingDown:
        return "2";
    case PowerState::WarmUp:
        return "3";
    }
    return errorText(Error::Failure);
}

QByteArray inputAnswer(const Readings& readings, const Identity& identity)
{
    if (!readings.input)
        return errorText(Error::Failure);
    return identity.inputs[std::size_t(*readings.input)];
}

// The mutes are only known while a picture is shown.
QByteArray muteAnswer(const Readings& readings, const Identity&)
{
    if (!readings.mute)
        return errorText(Error::Failure);
    const MuteReading& mute = *readings.mute;
    if (mute.signal != PictureSignal::Present)
        return errorText(Error::Unavailable);
    if (mute.video && mute.audio)
        return "31";
    if (mute.video)
        return "11";
    return mute.audio ? "21" : "30";
}

// Fan, lamp, temperature, cover, filter, other: 0 fine, 1 warning, 2 error.
QByteArray errorStatusAnswer(const Readings& readings, const Identity&)
{
    if (!readings.power)
        return errorText(Error::Failure);
    const PowerFaults& faults = readings.power->faults;
    const auto digit = [](bool set, char level) { return set ? level : '0'; };
    const char digits[] = {
        '0', digit(faults.lampFailure, '2'), digit(faults.temperatureWarning, '1'), '0',
        '0', digit(faults.powerFail, '2')};
    return QByteArray(digits, sizeof digits);
}

// Both lamps, each with the projector's one lamp-time count and whether it is lit.
QByteArray lampAnswer(const Readings& readings, const Identity&)
{
    if (!readings.lampHours || !readings.lamps)
        return errorText(Error::Failure);
    const QByteArray hours = QByteArray::number(readings.lampHours->hours);
    return hours + (readings.lamps->lamp1On ? " 1 " : " 0 ") + hours +
           (readings.lamps->lamp2On ? " 1" : " 0");
}

using Setter = Plan (*)(QByteArrayView parameter, const Identity& identity);
using Fixed = QByteArray (*)(const Identity& identity);
using Reader = QByteArray (*)(const Readings& readings, const Identity& identity);

// A command: the queries its answer is read from and how, or the fixed answer it has; how it
// sets, if it does.
struct CommandRow {
    QByteArrayView command;
    std::vector<StatusQuery> queries;
    Reader read = nullptr;
    Fixed fixed = nullptr;
    Setter set = nullptr;
};

const std::array<CommandRow, 11>& commandRows()
{
    static const std::array<CommandRow, 11> rows{{
        {"POWR", {StatusQuery::Power}, powerAnswer, nullptr, setPower},
        {"INPT", {StatusQuery::Input}, inputAnswer, nullptr, setInput},
        {"AVMT", {StatusQuery::Mute}, muteAnswer, nullptr, setMute},
        {"ERST", {StatusQuery::Power}, errorStatusAnswer, nullptr, nullptr},
        {"LAMP", {StatusQuery::LampHours, StatusQuery::LampMode}, lampAnswer, nullptr, nullptr},
        {"INST", {}, nullptr, inputList, nullptr},
        {"NAME", {}, nullptr, [](const Identity& i) { return i.name; }, nullptr},
        {"INF1", {}, nullptr, [](const Identity& i) { return i.manufacturer; }, nullptr},
        {"INF2", {}, nullptr, [](const Identity& i) { return i.model; }, nullptr},
        {"INFO", {}, nullptr, [](const Identity& i) { return i.info; }, nullptr},
        {"CLSS", {}, nullptr, [](const Identity&) { return QByteArray("1"); }, nullptr},
    }};
    return rows;
}

const CommandRow* rowOf(QByteArrayView command)
{
    for (const CommandRow& row : commandRows())
        if (row.command == command)
            return &row;
    return nullptr;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

bool isCommandCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

QByteArray clipped(const QString& text, qsizetype limit)
{
    return text.toLatin1().left(limit);
}

} // namespace

QByteArray errorText(Error error)
{
    return "ERR" + QByteArray::number(int(error));
}

std::optional<Request> parseRequest(QByteArrayView line)
{
    line = trimmed(line);
    if (line.size() < 6 || line[0] != '%' || line[1] < '0' || line[1] > '9')
        return std::nullopt;
    const QByteArrayView command = line.sliced(2, 4);
    if (!std::all_of(command.begin(), command.end(), isCommandCharacter))
        return std::nullopt;
    return Request{line[1], command.toByteArray().toUpper(), trimmed(line.sliced(6)).toByteArray()};
}

QByteArray replyLine(const Request& request, QByteArrayView body)
{
    return '%' + QByteArray(1, request.cls) + request.command + '=' + body.toByteArray() + '\r';
}

QByteArray greeting(const std::optional<QByteArray>& random)
{
    return random ? "PJLINK 1 " + *random + '\r' : QByteArray("PJLINK 0\r");
}

QByteArray digestOf(QByteArrayView random, QByteArrayView password)
{
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(random);
    md5.addData(password);
    return md5.result().toHex();
}

bool digestMatches(QByteArrayView sent, QByteArrayView random, QByteArrayView password)
{
    const QByteArray digest = sent.toByteArray().toLower();
    return digest == digestOf(random, password) ||
           digest == digestOf(random.toByteArray() + ' ', password);
}

Identity identityOf(const ProjectorConfig& projector)
{
    const std::optional<PjlinkConfig>& pjlink = projector.pjlink;
    const auto text = [](const QString& configured, const QString& fallback, qsizetype limit) {
        return clipped(configured.isEmpty() ? fallback : configured, limit);
    };
    const PjlinkConfig none{};
    const PjlinkConfig& c = pjlink ? *pjlink : none;
    return Identity{text(c.name, projector.name, MaxNameBytes),
                    text(c.manufacturer, QStringLiteral("qx200d"), MaxInfoBytes),
                    text(c.model, QStringLiteral("QX200 on RS-232C"), MaxInfoBytes),
                    text(c.info, QStringLiteral("serial ") + projector.device, MaxInfoBytes),
                    c.inputs};
}

bool knownCommand(QByteArrayView command)
{
    return rowOf(command) != nullptr;
}

Plan plan(const Request& request, const Identity& identity)
{
    const CommandRow* row = request.cls == '1' ? rowOf(request.command) : nullptr;
    if (!row)
        return failure(Error::Undefined);
    if (request.parameter == "?")
        return row->fixed ? answer(row->fixed(identity)) : query(row->queries);
    if (!row->set || request.parameter.isEmpty() || request.parameter.size() > MaxParameterBytes)
        return failure(Error::OutOfParameter);
    return row->set(request.parameter, identity);
}

QByteArray answerQuery(const Request& request, const Readings& readings, const Identity& identity)
{
    const CommandRow* row = rowOf(request.command);
    return row && row->read ? row->read(readings, identity) : errorText(Error::Undefined);
}

} // namespace qx200::pjlink
