#pragma once

// Status replies as values: the same tables that give the console's status line give a number or
// a state for each query, so the two can never disagree.

#include "protocol/StatusDecoding.h"

#include <QByteArray>
#include <QByteArrayView>
#include <array>
#include <cstdint>
#include <optional>
#include <variant>

namespace qx200 {

enum class PowerState { Standby, On, CoolingDown, WarmUp };

// The conditions the power query reports beside the power state.
struct PowerFaults {
    bool powerFail = false;
    bool temperatureWarning = false;
    bool lampFailure = false;     // all lamps failed
    bool powerManagement = false; // lamp switched off by power management
    bool noKeyInput = false;
    friend bool operator==(const PowerFaults&, const PowerFaults&) = default;
};

struct PowerReading {
    std::optional<PowerState> state; // none on a power failure: the reply gives no state then
    PowerFaults faults;
    friend bool operator==(const PowerReading&, const PowerReading&) = default;
};

enum class InputSource { Computer1, Computer2, Video, Input4 };

struct Orientation {
    bool topBottomReversed = false;
    bool leftRightReversed = false;
    friend bool operator==(const Orientation&, const Orientation&) = default;
};

struct LampHours {
    std::int64_t hours = 0;
    friend bool operator==(const LampHours&, const LampHours&) = default;
};

// S1, S2, S3 in degrees Celsius.
struct Temperatures {
    std::array<double, 3> celsius{};
    friend bool operator==(const Temperatures&, const Temperatures&) = default;
};

// Whether the mutes can be told: not while there is no signal or the projector stands by.
enum class PictureSignal { Present, NoSignal, Standby };

struct MuteReading {
    PictureSignal signal = PictureSignal::Present;
    bool video = false; // meaningful only with a signal present
    bool audio = false;
    friend bool operator==(const MuteReading&, const MuteReading&) = default;
};

enum class LampMode { TwoLamps, Lamp1Only, Lamp2Only };

struct LampReading {
    LampMode mode = LampMode::TwoLamps;
    bool lamp1On = false;
    bool lamp2On = false;
    friend bool operator==(const LampReading&, const LampReading&) = default;
};

struct Pressure {
    std::int16_t hPa = 0;
    friend bool operator==(const Pressure&, const Pressure&) = default;
};

using ReadingValue = std::variant<PowerReading, InputSource, Orientation, LampHours, Temperatures,
                                  MuteReading, LampReading, Pressure>;

struct StatusReading {
    QByteArray status; // the console's status line for the same reply
    ReadingValue value;
};

// The reading of the rendered reply T to a query. Nothing when no table row matches, and for
// the numeric queries unless T is one whole reply (ending with its carriage return) whose
// characters are the numbers the query reports: a reply that cannot be read never gives a value.
// The raw query gives no reading.
std::optional<StatusReading> readStatus(StatusQuery query, QByteArrayView rendered);

} // namespace qx200
