#include "sim/ProjectorModel.h"

#include <algorithm>
#include <cmath>

namespace qx200::sim {
namespace {

using namespace std::chrono_literals;

enum class Action {
    Acknowledge, // known, changes nothing the queries report
    PowerOn,
    PowerOff,
    SelectInput,
    AudioMuteOn,
    AudioMuteOff,
    VideoMuteOn,
    VideoMuteOff,
    Query,
};

struct Command {
    std::string_view code;
    Action action;
    char input = 0; // for SelectInput
};

// clang-format off
constexpr std::array Commands{
    // Power, input, mutes
    Command{"C00", Action::PowerOn},      Command{"C01", Action::PowerOff},
    Command{"C05", Action::SelectInput, '1'}, Command{"C06", Action::SelectInput, '2'},
    Command{"C07", Action::SelectInput, '3'}, Command{"C04", Action::SelectInput, '4'},
    Command{"C0B", Action::AudioMuteOn},  Command{"C0C", Action::AudioMuteOff},
    Command{"C0D", Action::VideoMuteOn},  Command{"C0E", Action::VideoMuteOff},
    // Source selection: each source belongs to one of the four inputs
    Command{"C50", Action::SelectInput, '1'}, Command{"C51", Action::SelectInput, '1'},
    Command{"C54", Action::SelectInput, '1'},
    Command{"CF INPUT HDMI HDMI", Action::SelectInput, '4'},
    Command{"CF INPUT COMPUTER2 ANALOG", Action::SelectInput, '2'},
    Command{"CF INPUT VIDEO VIDEO", Action::SelectInput, '3'},
    Command{"CF INPUT S-VIDEO S-VIDEO", Action::SelectInput, '3'},
    // Menu, freeze, screen size, image, timer, display, picture modes, fan, C02
    Command{"C1C", Action::Acknowledge},  Command{"C1D", Action::Acknowledge},
    Command{"C43", Action::Acknowledge},  Command{"C44", Action::Acknowledge},
    Command{"C0F", Action::Acknowledge},  Command{"C10", Action::Acknowledge},
    Command{"C89", Action::Acknowledge},  Command{"C27", Action::Acknowledge},
    Command{"C8A", Action::Acknowledge},  Command{"C1E", Action::Acknowledge},
    Command{"C11", Action::Acknowledge},  Command{"C12", Action::Acknowledge},
    Command{"C13", Action::Acknowledge},  Command{"C14", Action::Acknowledge},
    Command{"C15", Action::Acknowledge},  Command{"C16", Action::Acknowledge},
    Command{"C17", Action::Acknowledge},  Command{"C18", Action::Acknowledge},
    Command{"C19", Action::Acknowledge},  Command{"C02", Action::Acknowledge},
    Command{"CF FANMODE L1", Action::Acknowledge}, Command{"CF FANMODE L2", Action::Acknowledge},
    // Adjusters and cursor pad
    Command{"C09", Action::Acknowledge},  Command{"C0A", Action::Acknowledge},
    Command{"C20", Action::Acknowledge},  Command{"C21", Action::Acknowledge},
    Command{"C30", Action::Acknowledge},  Command{"C31", Action::Acknowledge},
    Command{"C8E", Action::Acknowledge},  Command{"C8F", Action::Acknowledge},
    Command{"C3F", Action::Acknowledge},  Command{"C3C", Action::Acknowledge},
    Command{"C3D", Action::Acknowledge},  Command{"C3B", Action::Acknowledge},
    Command{"C3A", Action::Acknowledge},
    // Status queries
    Command{"CR0", Action::Query},        Command{"CR1", Action::Query},
    Command{"CR3", Action::Query},        Command{"CR4", Action::Query},
    Command{"CR6", Action::Query},        Command{"CR7", Action::Query},
    Command{"CRA", Action::Query},        Command{"CR9", Action::Query},
    Command{"CR PRESSURE", Action::Query},
};
// clang-format on

const Command* findCommand(std::string_view line)
{
    const auto it = std::find_if(Commands.begin(), Commands.end(),
                                 [line](const Command& c) { return c.code == line; });
    return it == Commands.end() ? nullptr : &*it;
}

constexpr auto DriftStep = 1s;
constexpr double DriftRate = 1.0 / 30.0; // share of the distance to the resting value per step
constexpr int MaxDriftSteps = 3600;      // temperatures have long settled after an hour

// "ddd.d" with `intDigits` integer digits, clamped to what fits.
std::string fixedPoint(double value, int intDigits)
{
    const long limit = intDigits == 2 ? 999 : 9999; // in tenths
    const long tenths = std::clamp(std::lround(value * 10.0), 0L, limit);
    std::string text = std::to_string(tenths / 10);
    text.insert(0, static_cast<std::size_t>(std::max(0, intDigits - int(text.size()))), '0');
    text += '.';
    text += char('0' + tenths % 10);
    return text;
}

} // namespace

std::array<double, TemperatureCount> restingTemperatures(bool lampLit)
{
    if (lampLit)
        return {29.0, 38.0, 61.0};
    return {25.0, 26.0, 27.0};
}

bool isKnownCommand(std::string_view line)
{
    return findCommand(line) != nullptr;
}

ProjectorModel::ProjectorModel(const ModelConfig& config)
    : config_(config), rng_(config.seed), lampTime_(config.lampHours),
      temps_(restingTemperatures(false))
{
}

std::string ProjectorModel::answer(std::string_view line, Millis now)
{
    advance(now);
    const Command* command = findCommand(line);
    if (command == nullptr)
        return std::string{'?', Cr};

    switch (command->action) {
    case Action::Query:
        return queryReply(command->code) + Cr;
    case Action::PowerOn:
        // Ignored while cooling down, as the lamp must cool before it can strike again.
        if (power_ == Power::Standby) {
            power_ = Power::CountDown;
            phaseStart_ = now_;
        }
        break;
    case Action::PowerOff:
        if (lampLit()) {
            power_ = Power::CoolingDown;
            phaseStart_ = now_;
        }
        break;
    case Action::SelectInput:
        input_ = command->input;
        break;
    case Action::AudioMuteOn:
    case Action::AudioMuteOff:
        audioMute_ = command->action == Action::AudioMuteOn;
        break;
    case Action::VideoMuteOn:
    case Action::VideoMuteOff:
        videoMute_ = command->action == Action::VideoMuteOn;
        break;
    case Action::Acknowledge:
        break;
    }
    advance(now_); // a phase of zero length ends at once
    return std::string(1, Ack);
}

void ProjectorModel::advance(Millis now)
{
    now = std::max(now, now_);
    for (;;) {
        Millis end = Millis::max();
        Power next = power_;
        if (power_ == Power::CountDown) {
            end = phaseStart_ + config_.warmup;
            next = Power::On;
        } else if (power_ == Power::CoolingDown) {
            end = phaseStart_ + config_.cooldown;
            next = Power::Standby;
        }
        if (end > now) {
            advanceWithinPhase(now);
            return;
        }
        advanceWithinPhase(end);
        power_ = next;
        phaseStart_ = end;
    }
}

void ProjectorModel::advanceWithinPhase(Millis until)
{
    const auto lit = lampLit();
    const Millis latestSkip = until - MaxDriftSteps * DriftStep;
    if (nextDrift_ < latestSkip) {
        const Millis skipTo = nextDrift_ + (latestSkip - nextDrift_) / DriftStep * DriftStep;
        if (lit)
            lampTime_ += skipTo - now_;
        now_ = skipTo;
        nextDrift_ = skipTo;
    }
    while (nextDrift_ <= until) {
        if (lit)
            lampTime_ += nextDrift_ - now_;
        now_ = nextDrift_;
        nextDrift_ += DriftStep;
        driftOneSecond();
    }
    if (lit)
        lampTime_ += until - now_;
    now_ = until;
}

void ProjectorModel::driftOneSecond()
{
    // Plain modulo on the generator's output keeps a seed's sequence the same on every library.
    const auto resting = restingTemperatures(lampLit());
    for (std::size_t i = 0; i < TemperatureCount; ++i) {
        const double jitter = (static_cast<int>(rng_() % 101) - 50) / 1000.0;
        temps_[i] += (resting[i] - temps_[i]) * DriftRate + jitter;
    }
    const int step = static_cast<int>(rng_() % 3) - 1;
    pressure_ = std::clamp(pressure_ + step, PressureCentre - PressureSpread,
                           PressureCentre + PressureSpread);
}

std::string ProjectorModel::queryReply(std::string_view code) const
{
    if (code == "CR0") {
        switch (power_) {
        case Power::Standby:
            return "80";
        case Power::CountDown:
            return "40";
        case Power::On:
            return "00";
        case Power::CoolingDown:
            return "20";
        }
    }
    if (code == "CR1")
        return std::string(1, input_);
    if (code == "CR3") {
        const auto hours = std::min<long long>(
            std::chrono::duration_cast<std::chrono::hours>(lampTime_).count(), 99999);
        std::string digits = std::to_string(hours);
        return std::string(5 - digits.size(), '0') + digits;
    }
    if (code == "CR4")
        return "11";
    if (code == "CR6") {
        // The console shows reply characters 1-5, 8-11 and 13-17; the rest is filler.
        return fixedPoint(temps_[0], 3) + "  " + fixedPoint(temps_[1], 2) + " " +
               fixedPoint(temps_[2], 3);
    }
    if (code == "CR7")
        return lampLit() ? "01" : "00";
    if (code == "CRA") {
        if (power_ != Power::On)
            return "FF";
        return std::string{'0', char('0' + (videoMute_ ? 1 : 0) + (audioMute_ ? 2 : 0))};
    }
    if (code == "CR9")
        return std::string(VersionText);
    return std::to_string(pressure_); // "CR PRESSURE"
}

} // namespace qx200::sim
