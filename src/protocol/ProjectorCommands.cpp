#include "protocol/ProjectorCommands.h"

#include <array>
#include <utility>

namespace qx200 {

namespace {

struct CommandRow {
    QByteArrayView code;
    CommandKind kind;
};

constexpr std::array<CommandRow, 10> Commands{{
    {"C00", CommandKind::PowerOn},
    {"C01", CommandKind::PowerOff},
    {"C05", CommandKind::Input},
    {"C06", CommandKind::Input},
    {"C07", CommandKind::Input},
    {"C04", CommandKind::Input},
    {"C0B", CommandKind::Mute},
    {"C0C", CommandKind::Mute},
    {"C0D", CommandKind::Mute},
    {"C0E", CommandKind::Mute},
}};

constexpr std::array<std::pair<InputSource, QByteArrayView>, 4> InputCodes{{
    {InputSource::Computer1, "C05"},
    {InputSource::Computer2, "C06"},
    {InputSource::Video, "C07"},
    {InputSource::Input4, "C04"},
}};

} // namespace

CommandKind commandKind(QByteArrayView line)
{
    for (const CommandRow& row : Commands)
        if (line == row.code)
            return row.kind;
    return CommandKind::Other;
}

std::optional<QString> refusalFor(QByteArrayView line, std::optional<PowerState> state)
{
    if (!state)
        return std::nullopt;
    switch (commandKind(line)) {
    case CommandKind::PowerOn:
        if (*state == PowerState::CoolingDown)
            return QStringLiteral("the projector is cooling down");
        break;
    case CommandKind::PowerOff:
        if (*state == PowerState::WarmUp)
            return QStringLiteral("the projector is counting down to power on");
        break;
    case CommandKind::Input:
    case CommandKind::Mute:
        if (*state != PowerState::On)
            return QStringLiteral("the projector is not on");
        break;
    case CommandKind::Other:
        break;
    }
    return std::nullopt;
}

std::optional<PowerState> powerAfter(QByteArrayView line, std::optional<PowerState> state)
{
    switch (commandKind(line)) {
    case CommandKind::PowerOn:
        if (state != PowerState::On && state != PowerState::CoolingDown)
            return PowerState::WarmUp;
        break;
    case CommandKind::PowerOff:
        if (state != PowerState::Standby)
            return PowerState::CoolingDown;
        break;
    default:
        break;
    }
    return std::nullopt;
}

QByteArray powerCommand(bool on)
{
    return on ? "C00" : "C01";
}

QByteArray inputCommand(InputSource input)
{
    for (const auto& [source, code] : InputCodes)
        if (source == input)
            return code.toByteArray();
    return {};
}

QByteArray freezeCommand(bool on)
{
    return on ? "C43" : "C44";
}

QByteArray muteCommand(MuteTarget target, bool on)
{
    if (target == MuteTarget::Video)
        return on ? "C0D" : "C0E";
    return on ? "C0B" : "C0C";
}

} // namespace qx200
