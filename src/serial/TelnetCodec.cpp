#include "serial/TelnetCodec.h"

#include "serial/LineSettings.h"

#include <array>
#include <initializer_list>

namespace qx200 {
namespace {

constexpr std::uint8_t Se = 240;
constexpr std::uint8_t Sb = 250;
constexpr std::uint8_t Will = 251;
constexpr std::uint8_t Wont = 252;
constexpr std::uint8_t Do = 253;
constexpr std::uint8_t Dont = 254;
constexpr std::uint8_t Iac = 255;
constexpr std::uint8_t Binary = 0;
constexpr std::uint8_t SuppressGoAhead = 3;

// COM-PORT commands (client to server); the server answers each with the code plus 100.
constexpr std::uint8_t SetBaudRate = 1;
constexpr std::uint8_t SetDataSize = 2;
constexpr std::uint8_t SetParity = 3;
constexpr std::uint8_t SetStopSize = 4;
constexpr std::uint8_t SetControl = 5;
constexpr std::uint8_t NoFlowControl = 1;

// Options this end performs, and options it wants the server to perform.
constexpr std::array<std::uint8_t, 3> LocalOptions{Binary, SuppressGoAhead,
                                                   TelnetCodec::ComPortOption};
constexpr std::array<std::uint8_t, 2> RemoteOptions{Binary, SuppressGoAhead};

// A subnegotiation longer than this is not one this client understands: the rest is dropped.
constexpr qsizetype MaxSubnegotiation = 64;

template <std::size_t N> bool supports(const std::array<std::uint8_t, N>& options, std::uint8_t o)
{
    for (const std::uint8_t option : options) {
        if (option == o)
            return true;
    }
    return false;
}

QByteArray command(std::uint8_t verb, std::uint8_t option)
{
    const char bytes[] = {char(Iac), char(verb), char(option)};
    return QByteArray(bytes, sizeof bytes);
}

template <class Value> struct Code {
    Value value;
    std::uint8_t code;
};
constexpr Code<QSerialPort::Parity> ParityCodes[] = {
    {QSerialPort::NoParity, 1},   {QSerialPort::OddParity, 2},   {QSerialPort::EvenParity, 3},
    {QSerialPort::MarkParity, 4}, {QSerialPort::SpaceParity, 5},
};
constexpr Code<QSerialPort::StopBits> StopCodes[] = {
    {QSerialPort::OneStop, 1},
    {QSerialPort::TwoStop, 2},
    {QSerialPort::OneAndHalfStop, 3},
};

template <class Value, std::size_t N>
std::uint8_t codeOf(const Code<Value> (&table)[N], Value value)
{
    for (const auto& [v, code] : table) {
        if (v == value)
            return code;
    }
    return 0; // "request current value": never reached with parsed settings
}

QByteArray subnegotiation(std::uint8_t command, std::initializer_list<std::uint8_t> value)
{
    QByteArray payload;
    for (const std::uint8_t byte : value)
        payload.append(char(byte));
    const char opening[] = {char(Iac), char(Sb), char(TelnetCodec::ComPortOption), char(command)};
    const char closing[] = {char(Iac), char(Se)};
    return QByteArray(opening, sizeof opening) + TelnetCodec::escape(payload) +
           QByteArray(closing, sizeof closing);
}

} // namespace

QByteArray TelnetCodec::start()
{
    local_ = {};
    remote_ = {};
    state_ = State::Data;
    sub_.clear();
    comPortRefused_ = false;
    QByteArray offer;
    for (const std::uint8_t option : LocalOptions) {
        local_.asked.set(option);
        offer += command(Will, option);
    }
    for (const std::uint8_t option : RemoteOptions) {
        remote_.asked.set(option);
        offer += command(Do, option);
    }
    return offer;
}

// Answers one request by the server. A request for what is already in force, or the answer to
// what this end asked for, gets no reply, so that the two ends never loop.
QByteArray TelnetCodec::negotiate(std::uint8_t verb, std::uint8_t option)
{
    const bool aboutLocal = verb == Do || verb == Dont;
    Side& side = aboutLocal ? local_ : remote_;
    const bool supported =
        aboutLocal ? supports(LocalOptions, option) : supports(RemoteOptions, option);
    const std::uint8_t yes = aboutLocal ? Will : Do;
    const std::uint8_t no = aboutLocal ? Wont : Dont;
    const bool enable = verb == Do || verb == Will;
    if (option == ComPortOption && !enable)
        comPortRefused_ = true;

    if (enable && !supported)
        return command(no, option);
    const bool ownRequest = side.asked[option];
    const bool wasOn = side.on[option];
    side.asked.reset(option);
    side.on.set(option, enable);
    if (ownRequest || wasOn == enable)
        return {};
    return command(enable ? yes : no, option);
}

TelnetCodec::Received TelnetCodec::receive(QByteArrayView bytes)
{
    Received out;
    for (const char c : bytes) {
        const auto byte = std::uint8_t(c);
        switch (state_) {
        case State::Data:
            if (byte == Iac)
                state_ = State::Command;
            else
                out.data.append(c);
            break;
        case State::Command:
            if (byte == Iac) {
                out.data.append(c);
                state_ = State::Data;
            } else if (byte >= Will) {
                verb_ = byte;
                state_ = State::Option;
            } else if (byte == Sb) {
                sub_.clear();
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, go-ahead and the like mean nothing on this line
            }
            break;
        case State::Option:
            out.replies += negotiate(verb_, byte);
            state_ = State::Data;
            break;
        case State::Sub:
            if (byte == Iac)
                state_ = State::SubCommand;
            else if (sub_.size() < MaxSubnegotiation)
                sub_.append(c);
            break;
        case State::SubCommand:
            // IAC IAC is a 255 inside the subnegotiation; IAC SE (or anything else) ends it.
            // The server's acknowledgements of the settings need no action.
            if (byte == Iac) {
                if (sub_.size() < MaxSubnegotiation)
                    sub_.append(c);
                state_ = State::Sub;
            } else {
                state_ = State::Data;
            }
            break;
        }
    }
    return out;
}

QByteArray TelnetCodec::escape(QByteArrayView bytes)
{
    QByteArray escaped;
    escaped.reserve(bytes.size());
    for (const char c : bytes) {
        escaped.append(c);
        if (std::uint8_t(c) == Iac)
            escaped.append(c);
    }
    return escaped;
}

QByteArray TelnetCodec::comPortSettings(const LineSettings& settings)
{
    const auto baud = std::uint32_t(settings.baud);
    return subnegotiation(SetBaudRate, {std::uint8_t(baud >> 24), std::uint8_t(baud >> 16),
                                        std::uint8_t(baud >> 8), std::uint8_t(baud)}) +
           subnegotiation(SetDataSize, {std::uint8_t(settings.dataBits)}) +
           subnegotiation(SetParity, {codeOf(ParityCodes, settings.parity)}) +
           subnegotiation(SetStopSize, {codeOf(StopCodes, settings.stopBits)}) +
           subnegotiation(SetControl, {NoFlowControl});
}

} // namespace qx200
