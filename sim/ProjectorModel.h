#pragma once

// A projector as seen from its serial line: one command line in, the reply bytes out. The model
// does no I/O and reads no clock; the caller passes the time since the simulator started.
//
// Replies:
//   - a known control command: the single byte ACK (6), nothing after it;
//   - a status query: the data characters followed by CR, with nothing in front of them;
//   - anything else (an empty line included): "?" and CR.

#include <array>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace qx200::sim {

using Millis = std::chrono::milliseconds;

inline constexpr char Ack = '\x06';
inline constexpr char Cr = '\r';

enum class Power { Standby, CountDown, On, CoolingDown };

struct ModelConfig {
    Millis warmup{10000};   // count down after power on
    Millis cooldown{10000}; // cooling down after power off
    std::uint32_t seed = 1; // drift of temperatures and pressure
    std::chrono::hours lampHours{1234};
};

// The three temperature sensors, in the order the temperature query reports them.
inline constexpr std::size_t TemperatureCount = 3;

// Pressure sensor counts; the console turns about 853 into 1013 hPa.
inline constexpr int PressureCentre = 853;
inline constexpr int PressureSpread = 4; // the reading stays within centre +- spread

// The text the raw query "CR9" returns (printable characters only).
inline constexpr std::string_view VersionText = "QX200 SIM Ver1.0";

// Power: standby -> count down (warmup) -> on after C00; count down or on -> cooling down
// (cooldown) -> standby after C01. C00 while cooling down is acknowledged and ignored. The lamp
// is lit during count down and on: the lamp hours grow and the lamp mode reads "01" then. The
// mute query reads "FF" whenever the projector is not on; the mutes themselves are kept.
// Temperatures and the pressure reading drift once a second of model time.
class ProjectorModel {
public:
    explicit ProjectorModel(const ModelConfig& config = {});

    // The reply to one command line (without its CR) received at `now`. Brings the state
    // forward to `now` first, then applies the command.
    std::string answer(std::string_view line, Millis now);

    // Brings the state forward to `now`. A time earlier than one already seen changes nothing.
    void advance(Millis now);

    Power power() const { return power_; }
    bool lampLit() const { return power_ == Power::CountDown || power_ == Power::On; }
    char input() const { return input_; } // '1' PC1, '2' PC2, '3' Video, '4' HDMI
    bool videoMute() const { return videoMute_; }
    bool audioMute() const { return audioMute_; }
    Millis lampTime() const { return lampTime_; }
    const std::array<double, TemperatureCount>& temperatures() const { return temps_; }
    int pressureReading() const { return pressure_; }

private:
    void advanceWithinPhase(Millis until);
    void driftOneSecond();
    std::string queryReply(std::string_view code) const;

    ModelConfig config_;
    std::mt19937 rng_;
    Millis now_{0};
    Millis phaseStart_{0}; // when the current power state was entered
    Millis nextDrift_{1000};
    Power power_ = Power::Standby;
    char input_ = '1';
    bool videoMute_ = false;
    bool audioMute_ = false;
    Millis lampTime_;
    std::array<double, TemperatureCount> temps_;
    int pressure_ = PressureCentre;
};

// The sensor values the temperatures settle at, with the lamp lit or not.
std::array<double, TemperatureCount> restingTemperatures(bool lampLit);

// Whether the line is a command or query the projector knows.
bool isKnownCommand(std::string_view line);

} // namespace qx200::sim
