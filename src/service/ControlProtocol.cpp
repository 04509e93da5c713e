#include "service/ControlProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <array>
#include <utility>

namespace qx200 {

namespace {

constexpr std::array<std::pair<ControlCommand, const char*>, 6> CommandKeywords{{
    {ControlCommand::List, "list"},
    {ControlCommand::Status, "status"},
    {ControlCommand::Power, "power"},
    {ControlCommand::Input, "input"},
    {ControlCommand::Mute, "mute"},
    {ControlCommand::Send, "send"},
}};

constexpr std::array<std::pair<InputSource, const char*>, 4> InputKeywords{{
    {InputSource::Computer1, "pc1"},
    {InputSource::Computer2, "pc2"},
    {InputSource::Video, "video"},
    {InputSource::Input4, "hdmi"},
}};

constexpr std::array<std::pair<MuteChoice, const char*>, 3> MuteKeywords{{
    {MuteChoice::Video, "video"},
    {MuteChoice::Audio, "audio"},
    {MuteChoice::All, "all"},
}};

template <class Enum, std::size_t N>
QString keywordOf(const std::array<std::pair<Enum, const char*>, N>& table, Enum value)
{
    for (const auto& [entry, keyword] : table)
        if (entry == value)
            return QString::fromLatin1(keyword);
    return {};
}

template <class Enum, std::size_t N>
std::optional<Enum> valueOf(const std::array<std::pair<Enum, const char*>, N>& table,
                            const QString& keyword)
{
    for (const auto& [entry, name] : table)
        if (keyword == QLatin1String(name))
            return entry;
    return std::nullopt;
}

QByteArray jsonLine(const QJsonObject& json)
{
    return QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n';
}

DecodedRequest refuse(const QString& error)
{
    return {std::nullopt, error};
}

QString keywordList(const auto& table)
{
    QStringList keywords;
    for (const auto& entry : table)
        keywords << QString::fromLatin1(entry.second);
    return keywords.join(QStringLiteral(", "));
}

// The projectors a request names, or why they are refused.
std::optional<QStringList> projectorNames(const QJsonObject& json, QString* error)
{
    const QJsonValue value = json[QStringLiteral("projectors")];
    if (value.isUndefined())
        return QStringList{};
    if (!value.isArray()) {
        *error = QStringLiteral("\"projectors\" must be a list of names");
        return std::nullopt;
    }
    QStringList names;
    for (const QJsonValue& item : value.toArray()) {
        const QString name = item.toString();
        if (!item.isString() || name.isEmpty()) {
            *error = QStringLiteral("\"projectors\" must be a list of names");
            return std::nullopt;
        }
        if (names.contains(name)) {
            *error = QStringLiteral("%1 is named twice").arg(name);
            return std::nullopt;
        }
        names << name;
    }
    return names;
}

} // namespace

QString inputKeyword(InputSource input)
{
    return keywordOf(InputKeywords, input);
}

std::optional<InputSource> inputFromKeyword(const QString& keyword)
{
    return valueOf(InputKeywords, keyword);
}

QString muteKeyword(MuteChoice mute)
{
    return keywordOf(MuteKeywords, mute);
}

std::optional<MuteChoice> muteFromKeyword(const QString& keyword)
{
    return valueOf(MuteKeywords, keyword);
}

QString commandKeyword(ControlCommand command)
{
    return keywordOf(CommandKeywords, command);
}

std::optional<ControlCommand> commandFromKeyword(const QString& keyword)
{
    return valueOf(CommandKeywords, keyword);
}

QByteArray encodeRequest(const ControlRequest& request)
{
    QJsonObject json{{"command", commandKeyword(request.command)}};
    if (request.command != ControlCommand::List)
        json["projectors"] = QJsonArray::fromStringList(request.projectors);
    switch (request.command) {
    case ControlCommand::List:
    case ControlCommand::Status:
        break;
    case ControlCommand::Power:
        json["on"] = request.on;
        break;
    case ControlCommand::Input:
        json["input"] = inputKeyword(request.input);
        break;
    case ControlCommand::Mute:
        json["mute"] = muteKeyword(request.mute);
        json["on"] = request.on;
        break;
    case ControlCommand::Send:
        json["line"] = QString::fromUtf8(request.line);
        break;
    }
    return jsonLine(json);
}

DecodedRequest decodeRequest(QByteArrayView line)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("not JSON: %1 at byte %2")
                          .arg(parseError.errorString())
                          .arg(parseError.offset));
    if (!document.isObject())
        return refuse(QStringLiteral("a request is a JSON object"));
    const QJsonObject json = document.object();

    ControlRequest request;
    const QString keyword = json[QStringLiteral("command")].toString();
    const auto command = commandFromKeyword(keyword);
    if (!command)
        return refuse(keyword.isEmpty() ? QStringLiteral("no \"command\"")
                                        : QStringLiteral("unknown command \"%1\" (one of %2)")
                                              .arg(keyword, keywordList(CommandKeywords)));
    request.command = *command;

    QString error;
    const auto names = projectorNames(json, &error);
    if (!names)
        return refuse(error);
    request.projectors = *names;
    switch (request.command) {
    case ControlCommand::List:
        if (!names->isEmpty())
            return refuse(QStringLiteral("list takes no projectors"));
        return {request, {}};
    case ControlCommand::Status:
    case ControlCommand::Send:
        if (names->size() != 1)
            return refuse(QStringLiteral("%1 takes one projector").arg(keyword));
        break;
    case ControlCommand::Power:
    case ControlCommand::Input:
    case ControlCommand::Mute:
        if (names->isEmpty())
            return refuse(QStringLiteral("%1 needs a projector").arg(keyword));
        break;
    }

    const QJsonValue on = json[QStringLiteral("on")];
    if (request.command == ControlCommand::Power || request.command == ControlCommand::Mute) {
        if (!on.isBool())
            return refuse(QStringLiteral("%1 needs \"on\": true or false").arg(keyword));
        request.on = on.toBool();
    }
    if (request.command == ControlCommand::Input) {
        const auto input = inputFromKeyword(json[QStringLiteral("input")].toString());
        if (!input)
            return refuse(QStringLiteral("\"input\" is one of %1").arg(keywordList(InputKeywords)));
        request.input = *input;
    }
    if (request.command == ControlCommand::Mute) {
        const auto mute = muteFromKeyword(json[QStringLiteral("mute")].toString());
        if (!mute)
            return refuse(QStringLiteral("\"mute\" is one of %1").arg(keywordList(MuteKeywords)));
        request.mute = *mute;
    }
    if (request.command == ControlCommand::Send) {
        const QJsonValue text = json[QStringLiteral("line")];
        request.line = text.toString().toUtf8();
        if (!text.isString() || request.line.isEmpty())
            return refuse(QStringLiteral("send needs a \"line\""));
        if (request.line.contains('\r') || request.line.contains('\n'))
            return refuse(QStringLiteral("the line to send is one line, without CR or LF"));
        if (request.line.size() > MaxSentLineBytes)
            return refuse(
                QStringLiteral("the line to send is longer than %1 bytes").arg(MaxSentLineBytes));
    }
    return {request, {}};
}

QList<QByteArray> commandLines(const ControlRequest& request)
{
    switch (request.command) {
    case ControlCommand::List:
    case ControlCommand::Status:
        return {};
    case ControlCommand::Power:
        return {powerCommand(request.on)};
    case ControlCommand::Input:
        return {inputCommand(request.input)};
    case ControlCommand::Mute:
        switch (request.mute) {
        case MuteChoice::Video:
            return {muteCommand(MuteTarget::Video, request.on)};
        case MuteChoice::Audio:
            return {muteCommand(MuteTarget::Audio, request.on)};
        case MuteChoice::All:
            return {muteCommand(MuteTarget::Video, request.on),
                    muteCommand(MuteTarget::Audio, request.on)};
        }
        break;
    case ControlCommand::Send:
        return {request.line};
    }
    return {};
}

QByteArray encodeAnswer(const QJsonObject& answer)
{
    return jsonLine(answer);
}

QJsonObject failureAnswer(const QString& error)
{
    return {{"ok", false}, {"error", error}};
}

DecodedAnswer decodeAnswer(QByteArrayView line)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &parseError);
    const QJsonObject json = document.object();
    const QJsonValue ok = json[QStringLiteral("ok")];
    if (parseError.error != QJsonParseError::NoError || !document.isObject() || !ok.isBool() ||
        (!ok.toBool() && !json[QStringLiteral("error")].isString()))
        return {std::nullopt, QStringLiteral("qx200d answered something else than an answer")};
    return {json, {}};
}

QString escapedReply(QByteArrayView bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\')
            text += QStringLiteral("\\\\");
        else if (byte == '\r')
            text += QStringLiteral("\\r");
        else if (byte == '\n')
            text += QStringLiteral("\\n");
        else if (byte >= 0x20 && byte < 0x7f)
            text += QChar(byte);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

} // namespace qx200
