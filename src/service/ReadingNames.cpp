#include "service/ReadingNames.h"

#include <QJsonArray>

namespace qx200 {

namespace {

template <class Enum, std::size_t N>
const char* nameIn(const std::array<const char*, N>& names, Enum value)
{
    return names.at(static_cast<std::size_t>(value));
}

// In the order of the enumerations.
constexpr std::array<const char*, 4> PowerStateNames{"standby", "on", "cooling_down", "warm_up"};
constexpr std::array<int, 4> PowerStatusValues{0, 1, 2, 3};
constexpr std::array<const char*, 4> InputNames{"computer1", "computer2", "video", "input4"};
constexpr std::array<const char*, 3> LampModeNames{"two_lamps", "lamp1_only", "lamp2_only"};
constexpr std::array<const char*, 3> SignalNames{"present", "no_signal", "standby"};

} // namespace

int powerStatusValue(PowerState state)
{
    return PowerStatusValues.at(static_cast<std::size_t>(state));
}

const char* powerStateName(PowerState state)
{
    return nameIn(PowerStateNames, state);
}

const char* inputName(InputSource input)
{
    return nameIn(InputNames, input);
}

const char* lampModeName(LampMode mode)
{
    return nameIn(LampModeNames, mode);
}

const char* signalName(PictureSignal signal)
{
    return nameIn(SignalNames, signal);
}

QJsonObject readingsJson(const Readings& r)
{
    QJsonObject json;
    if (r.power) {
        if (r.power->state)
            json["power"] = powerStateName(*r.power->state);
        QJsonObject faults;
        for (const FaultName& fault : FaultNames)
            faults[fault.component] = r.power->faults.*fault.flag;
        json["faults"] = faults;
    }
    if (r.input)
        json["input"] = inputName(*r.input);
    if (r.lampHours)
        json["lamp_hours"] = qint64(r.lampHours->hours);
    if (r.orientation)
        json["orientation"] =
            QJsonObject{{"top_bottom_reversed", r.orientation->topBottomReversed},
                        {"left_right_reversed", r.orientation->leftRightReversed}};
    if (r.temperatures) {
        const auto& c = r.temperatures->celsius;
        json["temperatures_celsius"] = QJsonArray{c[0], c[1], c[2]};
    }
    if (r.lamps) {
        json["lamp_mode"] = lampModeName(r.lamps->mode);
        json["lamps_on"] = QJsonObject{{"1", r.lamps->lamp1On}, {"2", r.lamps->lamp2On}};
    }
    if (r.mute) {
        json["signal"] = signalName(r.mute->signal);
        if (r.mute->signal == PictureSignal::Present)
            json["mute"] = QJsonObject{{"video", r.mute->video}, {"audio", r.mute->audio}};
    }
    if (r.pressure)
        json["pressure_hpa"] = r.pressure->hPa;
    return json;
}

} // namespace qx200
