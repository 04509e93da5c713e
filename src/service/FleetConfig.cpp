#include "service/FleetConfig.h"

#include "serial/BoundedFile.h"
#include "serial/DeviceAddress.h"
#include "service/ControlProtocol.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <set>
#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/yaml.h>

namespace qx200 {

namespace {

using std::chrono::milliseconds;

struct Unit {
    std::string_view suffix;
    std::int64_t ms;
    int rank; // units are written largest first: y = 0 ... ms = 6
};

// "ms" before "m", so that the longer suffix is matched first.
constexpr std::int64_t Day = 24 * 3600 * 1000LL;
constexpr std::array<Unit, 7> Units{{
    {"y", 365 * Day, 0},
    {"w", 7 * Day, 1},
    {"d", Day, 2},
    {"h", 3600 * 1000LL, 3},
    {"ms", 1, 6},
    {"m", 60 * 1000LL, 4},
    {"s", 1000, 5},
}};

const Unit* unitAt(std::string_view text)
{
    for (const Unit& unit : Units) {
        if (text.starts_with(unit.suffix))
            return &unit;
    }
    return nullptr;
}

// A refusal at a node: "line 4: the reason".
struct Refusal {
    int line;
    QString reason;
};

[[noreturn]] void refuse(const YAML::Node& node, const QString& reason)
{
    throw Refusal{std::max(node.Mark().line, 0) + 1, reason}; // an empty file has no mark
}

QString scalarText(const YAML::Node& node, const char* key)
{
    if (!node.IsScalar() || node.Scalar().empty())
        refuse(node, QStringLiteral("%1 must be a text").arg(QLatin1String(key)));
    return QString::fromStdString(node.Scalar());
}

// A map that gives a key twice is refused: the parser would keep the first and drop the rest
// without a word.
void refuseDuplicateKeys(const YAML::Node& map)
{
    std::set<std::string> seen;
    for (const auto& item : map) {
        if (!seen.insert(item.first.Scalar()).second)
            refuse(item.first, QStringLiteral("the key \"%1\" is given twice")
                                   .arg(QString::fromStdString(item.first.Scalar())));
    }
}

// A duration between 0 (excluded) and MaxDuration, or the reason at the node.
milliseconds durationAt(const YAML::Node& node, const char* key, const char* examples)
{
    const QString text = scalarText(node, key);
    const auto duration = parseDuration(text.toStdString());
    if (!duration)
        refuse(node, QStringLiteral("%1 \"%2\" is no duration such as %3")
                         .arg(QLatin1String(key), text, QLatin1String(examples)));
    if (duration->count() == 0)
        refuse(node, QStringLiteral("%1 must be longer than 0").arg(QLatin1String(key)));
    if (*duration > MaxDuration)
        refuse(node, QStringLiteral("%1 \"%2\" is longer than 24h").arg(QLatin1String(key), text));
    return *duration;
}

// A name goes into log lines and labels as it is: a control character would split or hide them.
void refuseControlCharacters(const YAML::Node& node, const QString& name)
{
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            refuse(node, QStringLiteral("the name \"%1\" has a control character (U+%2)")
                             .arg(QString(name).replace(c, u'?'))
                             .arg(c.unicode(), 4, 16, QChar(u'0')));
    }
}

constexpr std::array<const char*, 6> Keys{"name",     "device",  "speed",
                                          "interval", "console", "pjlink"};
constexpr std::array<const char*, 7> PjlinkKeys{"listen", "password_file", "name",  "manufacturer",
                                                "model",  "info",          "inputs"};

template <std::size_t N>
void checkKeys(const YAML::Node& entry, const std::array<const char*, N>& keys)
{
    refuseDuplicateKeys(entry);
    for (const auto& item : entry) {
        const std::string key = item.first.Scalar();
        if (std::find_if(keys.begin(), keys.end(), [&](const char* k) { return key == k; }) ==
            keys.end()) {
            QStringList known;
            for (const char* k : keys)
                known << QLatin1String(k);
            refuse(item.first, QStringLiteral("unknown key \"%1\" (known: %2)")
                                   .arg(QString::fromStdString(key), known.join(u", ")));
        }
    }
}

// A text the network protocol answers: printable ASCII, at most `limit` bytes.
QString protocolText(const YAML::Node& node, const char* key, qsizetype limit)
{
    const QString text = scalarText(node, key);
    const bool printable = std::all_of(
        text.begin(), text.end(), [](QChar c) { return c.unicode() >= 32 && c.unicode() < 127; });
    if (!printable || text.size() > limit)
        refuse(node, QStringLiteral("%1 must be printable ASCII of at most %2 characters")
                         .arg(QLatin1String(key))
                         .arg(limit));
    return text;
}

// An input code: a source type from 1 (RGB) to 5 (network), then a number from 1 to 9.
bool isInputCode(const QByteArray& code)
{
    return code.size() == 2 && code[0] >= '1' && code[0] <= '5' && code[1] >= '1' && code[1] <= '9';
}

void readInputCodes(const YAML::Node& node, PjlinkConfig& pjlink)
{
    if (!node.IsMap())
        refuse(node, QStringLiteral("pjlink inputs must map pc1, pc2, video and hdmi to codes "
                                    "such as 11"));
    for (const auto& item : node) {
        const auto input = inputFromKeyword(QString::fromStdString(item.first.Scalar()));
        if (!input)
            refuse(item.first, QStringLiteral("unknown input \"%1\" (known: pc1, pc2, video, hdmi)")
                                   .arg(QString::fromStdString(item.first.Scalar())));
        const QByteArray code = scalarText(item.second, "input code").toLatin1();
        if (!isInputCode(code))
            refuse(item.second, QStringLiteral("input code \"%1\" must be a source type 1-5 "
                                               "and a number 1-9, such as 11 or 31")
                                    .arg(QString::fromLatin1(code)));
        pjlink.inputs[std::size_t(*input)] = code;
    }
    const std::set<QByteArray> distinct(pjlink.inputs.begin(), pjlink.inputs.end());
    if (distinct.size() != pjlink.inputs.size())
        refuse(node, QStringLiteral("pjlink inputs must have four different codes"));
}

PjlinkConfig pjlinkFrom(const YAML::Node& node)
{
    if (!node.IsMap() || !node["listen"])
        refuse(node, QStringLiteral("pjlink must be a map with listen (and password_file)"));
    checkKeys(node, PjlinkKeys);
    PjlinkConfig pjlink;
    QString why;
    const auto listen = parseSocketAddress(scalarText(node["listen"], "listen"), &why);
    if (!listen)
        refuse(node["listen"], QStringLiteral("pjlink listen: %1").arg(why));
    pjlink.listen = *listen;
    if (const YAML::Node file = node["password_file"])
        pjlink.passwordFile = scalarText(file, "password_file");
    if (const YAML::Node name = node["name"])
        pjlink.name = protocolText(name, "name", 64);
    const std::array<std::pair<const char*, QString*>, 3> infos{
        {{"manufacturer", &pjlink.manufacturer}, {"model", &pjlink.model}, {"info", &pjlink.info}}};
    for (const auto& [key, text] : infos)
        if (const YAML::Node value = node[key])
            *text = protocolText(value, key, 32);
    if (const YAML::Node inputs = node["inputs"])
        readInputCodes(inputs, pjlink);
    return pjlink;
}

ProjectorConfig projectorFrom(const YAML::Node& entry)
{
    if (!entry.IsMap())
        refuse(entry, QStringLiteral("each projector must be a map with name and device"));
    checkKeys(entry, Keys);
    ProjectorConfig projector;
    if (!entry["name"])
        refuse(entry, QStringLiteral("a projector has no name"));
    projector.name = scalarText(entry["name"], "name");
    refuseControlCharacters(entry["name"], projector.name);
    if (!entry["device"])
        refuse(entry, QStringLiteral("projector \"%1\" has no device").arg(projector.name));
    const YAML::Node device = entry["device"];
    projector.device = scalarText(device, "device");
    QString why;
    if (!parseDeviceAddress(projector.device, &why))
        refuse(device, why);
    if (const YAML::Node speed = entry["speed"]) {
        const QString text = scalarText(speed, "speed");
        bool ok = false;
        projector.speed = text.toInt(&ok);
        if (!ok || !lineSettingsFor(projector.speed))
            refuse(speed, QStringLiteral("speed must be 19200 or 9600, not \"%1\"").arg(text));
    }
    if (const YAML::Node interval = entry["interval"])
        projector.interval = durationAt(interval, "interval", "500ms, 10s, 1m or 1h30m");
    if (const YAML::Node console = entry["console"]) {
        const QString text = scalarText(console, "console");
        projector.console = parseSocketAddress(text, &why);
        if (!projector.console)
            refuse(console, QStringLiteral("console: %1").arg(why));
    }
    if (const YAML::Node pjlink = entry["pjlink"])
        projector.pjlink = pjlinkFrom(pjlink);
    return projector;
}

FleetConfig fleetFrom(const YAML::Node& root)
{
    if (!root.IsMap() || !root["projectors"])
        refuse(root, QStringLiteral("the file must have a \"projectors:\" list"));
    refuseDuplicateKeys(root);
    YAML::Node key;
    FleetConfig fleet;
    for (const auto& item : root) {
        const std::string name = item.first.Scalar();
        if (name == "projectors") {
            key = item.first;
        } else if (name == "operator_quiet") {
            fleet.operatorQuiet = durationAt(item.second, "operator_quiet", "2s");
        } else {
            refuse(item.first,
                   QStringLiteral("unknown key \"%1\" (known: projectors, operator_quiet)")
                       .arg(QString::fromStdString(name)));
        }
    }
    const YAML::Node list = root["projectors"];
    if (!list.IsSequence() || list.size() == 0)
        refuse(key, QStringLiteral("\"projectors:\" must list at least one projector"));
    std::set<QString> names;
    std::set<QString> devices;
    std::set<std::pair<QString, quint16>> consoles;
    std::set<std::pair<QString, quint16>> pjlinks;
    for (const YAML::Node& entry : list) {
        ProjectorConfig projector = projectorFrom(entry);
        if (!names.insert(projector.name).second)
            refuse(entry["name"],
                   QStringLiteral("the name \"%1\" is used twice").arg(projector.name));
        // Two pollers on one line would fight over it: one of them could never open it.
        if (!devices.insert(projector.device).second)
            refuse(entry["device"],
                   QStringLiteral("the device \"%1\" is used twice").arg(projector.device));
        if (const auto& console = projector.console;
            console && !consoles.insert({console->address.toString(), console->port}).second)
            refuse(entry["console"], QStringLiteral("the console address %1 is used twice")
                                         .arg(socketAddressText(*console)));
        if (const auto& pjlink = projector.pjlink;
            pjlink &&
            !pjlinks.insert({pjlink->listen.address.toString(), pjlink->listen.port}).second)
            refuse(entry["pjlink"]["listen"], QStringLiteral("the pjlink address %1 is used twice")
                                                  .arg(socketAddressText(pjlink->listen)));
        fleet.projectors.push_back(std::move(projector));
    }
    return fleet;
}

} // namespace

ConfigResult parseFleetConfig(std::string_view yaml)
{
    try {
        return {fleetFrom(YAML::Load(std::string(yaml))), {}};
    } catch (const Refusal& refusal) {
        return {std::nullopt, QStringLiteral("line %1: %2").arg(refusal.line).arg(refusal.reason)};
    } catch (const YAML::DeepRecursion& error) {
        return {std::nullopt, QStringLiteral("line %1: nested deeper than %2 levels")
                                  .arg(std::max(error.mark.line, 0) + 1)
                                  .arg(error.depth())};
    } catch (const YAML::Exception& error) {
        return {std::nullopt, QStringLiteral("line %1: %2")
                                  .arg(error.mark.line + 1)
                                  .arg(QString::fromStdString(error.msg))};
    }
}

ConfigResult loadFleetConfig(const QString& path)
{
    const FileRead file = readRegularFile(QFile::encodeName(path).toStdString(), MaxConfigBytes);
    if (!file.error.empty())
        return {std::nullopt, path + QStringLiteral(": ") + QString::fromLocal8Bit(file.error)};
    ConfigResult result = parseFleetConfig(file.bytes);
    if (!result.config)
        result.error = path + QStringLiteral(": ") + result.error;
    return result;
}

bool namesProjector(std::string_view yaml)
{
    try {
        const YAML::Node root = YAML::Load(std::string(yaml));
        if (!root.IsMap())
            return !root.IsNull();
        const YAML::Node list = root["projectors"];
        return list && !list.IsNull() && !(list.IsSequence() && list.size() == 0);
    } catch (const YAML::Exception&) {
        return true;
    }
}

std::optional<milliseconds> parseDuration(std::string_view text)
{
    std::int64_t total = 0;
    int lastRank = -1;
    if (text.empty())
        return std::nullopt;
    if (text == "0")
        return milliseconds(0); // zero needs no unit
    while (!text.empty()) {
        std::int64_t count = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
        if (error != std::errc() || end == text.data() || count < 0)
            return std::nullopt;
        text.remove_prefix(std::size_t(end - text.data()));
        const Unit* unit = unitAt(text);
        if (!unit)
            return std::nullopt;
        if (unit->rank <= lastRank)
            return std::nullopt;
        lastRank = unit->rank;
        if (count > (std::numeric_limits<std::int64_t>::max() - total) / unit->ms)
            return std::nullopt;
        total += count * unit->ms;
        text.remove_prefix(unit->suffix.size());
    }
    return milliseconds(total);
}

std::optional<SocketAddress> parseSocketAddress(const QString& text, QString* error)
{
    const qsizetype colon = text.lastIndexOf(u':');
    bool numeric = false;
    const uint port = colon < 0 ? 0 : text.mid(colon + 1).toUInt(&numeric);
    QString host = text.left(std::max<qsizetype>(colon, 0));
    const bool bracketed = host.startsWith(u'[') && host.endsWith(u']');
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    const QHostAddress address(host);
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    if (!numeric || port == 0 || port > 65535 || address.isNull() || v6 != bracketed) {
        *error = QStringLiteral("\"%1\" is no IP address with a port, such as 127.0.0.1:4660 or "
                                "[::1]:4660")
                     .arg(text);
        return std::nullopt;
    }
    return SocketAddress{address, quint16(port)};
}

QString socketAddressText(const SocketAddress& at)
{
    const QString host = at.address.toString();
    return at.address.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]:%2").arg(host).arg(at.port)
               : QStringLiteral("%1:%2").arg(host).arg(at.port);
}

std::optional<QByteArray> lineSettingsFor(qint32 speed)
{
    if (speed != 19200 && speed != 9600)
        return std::nullopt;
    return QByteArray::number(speed) + ",N,8,1";
}

} // namespace qx200
