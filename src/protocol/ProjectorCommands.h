#pragma once

// The projector's control commands that change its state, and which of them it cannot take in
// a given power state. Shared by every program that sends on behalf of someone else.

#include "protocol/StatusReading.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace qx200 {

enum class CommandKind { PowerOn, PowerOff, Input, Mute, Other };

// What a command line (without its carriage return) does.
CommandKind commandKind(QByteArrayView line);

// Why the projector cannot take the command line in this power state ("the projector is cooling
// down"); nothing when it can, or when the state is not known.
std::optional<QString> refusalFor(QByteArrayView line, std::optional<PowerState> state);

// The power state a command leaves the projector in when it takes it; nothing for commands that
// do not change it, or that it ignores in that state.
std::optional<PowerState> powerAfter(QByteArrayView line, std::optional<PowerState> state);

// The command lines for a change.
QByteArray powerCommand(bool on);
QByteArray inputCommand(InputSource input);
enum class MuteTarget { Video, Audio };
QByteArray muteCommand(MuteTarget target, bool on);
QByteArray freezeCommand(bool on);

} // namespace qx200
