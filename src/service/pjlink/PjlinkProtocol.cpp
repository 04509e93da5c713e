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

// "1" up a step, "0" down.
Plan stepVolume(QByteArrayView parameter, const Identity&)
{
    if (parameter != "0" && parameter != "1")
        return failure(Error::OutOfParameter);
    return lines({parameter == "1" ? "C09" : "C0A"});
}

Plan setFreeze(QByteArrayView parameter, const Identity&)
{
    if (parameter != "0" && parameter != "1")
        return failure(Error::OutOfParameter);
    return lines({freezeCommand(parameter == "1")});
}

// "?11": the name of input 11 as the panel shows it.
Plan inputName(QByteArrayView parameter, const Identity& identity)
{
    constexpr std::array<QByteArrayView, 4> Names{"PC1", "PC2", "Video", "HDMI"};
    for (std::size_t i = 0; i < identity.inputs.size(); ++i)
        if (parameter == '?' + identity.inputs[i])
            return answer(Names[i].toByteArray());
    return failure(Error::OutOfParameter);
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

// A command of a class: the queries its "?" is answered from and how, or the fixed answer it
// has; what any other parameter does, if anything. Functions the projector lacks (filter,
// resolutions, serial number, software version, microphone, replacement parts) have no row:
// they are answered ERR1.
struct CommandRow {
    char cls;
    QByteArrayView command;
    std::vector<StatusQuery> queries;
    Reader read = nullptr;
    Fixed fixed = nullptr;
    Setter take = nullptr;
};

const std::vector<CommandRow>& commandRows()
{
    using Q = StatusQuery;
    static const std::vector<CommandRow> rows{
        {'1', "POWR", {Q::Power}, powerAnswer, nullptr, setPower},
        {'1', "INPT", {Q::Input}, inputAnswer, nullptr, setInput},
        {'1', "AVMT", {Q::Mute}, muteAnswer, nullptr, setMute},
        {'1', "ERST", {Q::Power}, errorStatusAnswer, nullptr, nullptr},
        {'1', "LAMP", {Q::LampHours, Q::LampMode}, lampAnswer, nullptr, nullptr},
        {'1', "INST", {}, nullptr, inputList, nullptr},
        {'1', "NAME", {}, nullptr, [](const Identity& i) { return i.name; }, nullptr},
        {'1', "INF1", {}, nullptr, [](const Identity& i) { return i.manufacturer; }, nullptr},
        {'1', "INF2", {}, nullptr, [](const Identity& i) { return i.model; }, nullptr},
        {'1', "INFO", {}, nullptr, [](const Identity& i) { return i.info; }, nullptr},
        {'1', "CLSS", {}, nullptr, [](const Identity&) { return QByteArray("2"); }, nullptr},
        {'2', "INPT", {Q::Input}, inputAnswer, nullptr, setInput},
        {'2', "INST", {}, nullptr, inputList, nullptr},
        {'2', "INNM", {}, nullptr, nullptr, inputName},
        {'2', "SVOL", {}, nullptr, nullptr, stepVolume},
        {'2',
         "FREZ",
         {},
         nullptr,
         [](const Identity& i) { return QByteArray(i.frozen ? "1" : "0"); },
         setFreeze},
    };
    return rows;
}

const CommandRow* rowOf(char cls, QByteArrayView command)
{
    for (const CommandRow& row : commandRows())
        if (row.cls == cls && row.command == command)
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

QByteArray hardwareAddressOf(const QString& projector)
{
    QByteArray bytes =
        QCryptographicHash::hash(projector.toUtf8(), QCryptographicHash::Md5).left(6);
    bytes[0] = char((bytes[0] & 0xFC) | 0x02); // locally administered, unicast
    return bytes.toHex(':').toUpper();
}

std::optional<QByteArray> searchAnswer(QByteArrayView datagram, QByteArrayView hardwareAddress)
{
    if (trimmed(datagram).toByteArray().toUpper() != "%2SRCH")
        return std::nullopt;
    return "%2ACKN=" + hardwareAddress.toByteArray() + '\r';
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
                    c.inputs,
                    false};
}

bool knownCommand(QByteArrayView command)
{
    return rowOf('1', command) || rowOf('2', command);
}

Plan plan(const Request& request, const Identity& identity)
{
    const CommandRow* row = rowOf(request.cls, request.command);
    if (!row)
        return failure(Error::Undefined);
    if (request.parameter == "?" && (row->fixed || row->read))
        return row->fixed ? answer(row->fixed(identity)) : query(row->queries);
    if (!row->take || request.parameter.isEmpty() || request.parameter.size() > MaxParameterBytes)
        return failure(Error::OutOfParameter);
    return row->take(request.parameter, identity);
}

QByteArray answerQuery(const Request& request, const Readings& readings, const Identity& identity)
{
    const CommandRow* row = rowOf(request.cls, request.command);
    return row && row->read ? row->read(readings, identity) : errorText(Error::Undefined);
}

} // namespace qx200::pjlink
