#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <bitset>
#include <cstdint>

namespace qx200 {

struct LineSettings;

// The client side of a Telnet stream carrying a serial line with the COM-PORT-OPTION (RFC 2217):
// the console's bytes with 255 doubled, option negotiation answered by a fixed policy, and the
// remote UART's settings sent as COM-PORT subnegotiations. Pure: bytes in, bytes out.
// Negotiation keeps each option's state on both sides (RFC 1143): a request for what is already
// in force, or the answer to this end's own request, is never answered, so no exchange loops and
// no request costs more than one reply of the same size.
class TelnetCodec {
public:
    // What came in on the stream: the serial line's bytes, and what must be sent back.
    struct Received {
        QByteArray data;
        QByteArray replies;
    };

    // What the client offers on connecting: binary both ways, no go-ahead, and the COM-PORT
    // option. Starts a fresh negotiation.
    QByteArray start();
    // Splits incoming bytes into the line's data and Telnet commands; commands may straddle
    // calls. Subnegotiations and other commands from the server are consumed here.
    Received receive(QByteArrayView bytes);
    // True once the server has agreed to take COM-PORT commands.
    bool comPortAgreed() const { return local_.on[ComPortOption]; }
    // True once the server has declined the COM-PORT option (DONT, or WONT): the line then runs
    // at whatever speed the server's UART has.
    bool comPortRefused() const { return comPortRefused_; }

    // The line's bytes as they go on the stream: 255 doubled.
    static QByteArray escape(QByteArrayView bytes);
    // SET-BAUDRATE, SET-DATASIZE, SET-PARITY, SET-STOPSIZE and SET-CONTROL (no flow control).
    static QByteArray comPortSettings(const LineSettings& settings);

    static constexpr std::uint8_t ComPortOption = 44;

private:
    // One side's options: those asked for and not yet answered, and those in force.
    struct Side {
        std::bitset<256> asked;
        std::bitset<256> on;
    };
    enum class State { Data, Command, Option, Sub, SubCommand };

    QByteArray negotiate(std::uint8_t verb, std::uint8_t option);

    Side local_;  // options this end performs (answers to DO / DONT)
    Side remote_; // options the server performs (answers to WILL / WONT)
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    QByteArray sub_;
    bool comPortRefused_ = false;
};

} // namespace qx200
