#pragma once

// The names under which readings are published: metric labels, JSON keys, the status page.

#include "protocol/StatusReading.h"
#include "service/Poller.h"

#include <QJsonObject>
#include <array>

namespace qx200 {

struct FaultName {
    const char* component;
    bool PowerFaults::*flag;
};

inline constexpr std::array<FaultName, 5> FaultNames{{
    {"power", &PowerFaults::powerFail},
    {"temperature", &PowerFaults::temperatureWarning},
    {"lamp", &PowerFaults::lampFailure},
    {"power_management", &PowerFaults::powerManagement},
    {"key_input", &PowerFaults::noKeyInput},
}};

// The common network-projector exporters' numbering: 0 standby, 1 on, 2 cooling down, 3 warm-up.
int powerStatusValue(PowerState state);
const char* powerStateName(PowerState state);
const char* inputName(InputSource input);
const char* lampModeName(LampMode mode);
const char* signalName(PictureSignal signal);

// The readings as a JSON object; what was not read is left out.
QJsonObject readingsJson(const Readings& readings);

} // namespace qx200
