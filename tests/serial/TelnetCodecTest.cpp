#include "serial/TelnetCodec.h"
#include "serial/LineSettings.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <string>

namespace qx200 {
namespace {

constexpr int Iac = 255, Will = 251, Wont = 252, Do = 253, Dont = 254, Sb = 250, Se = 240;
constexpr int ComPort = 44;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out.append(char(v));
    return out;
}

TEST(TelnetCodec, OffersBinarySuppressGoAheadAndTheComPortOption)
{
    TelnetCodec codec;
    EXPECT_EQ(codec.start(),
              bytes({Iac, Will, 0, Iac, Will, 3, Iac, Will, ComPort, Iac, Do, 0, Iac, Do, 3}));
    EXPECT_FALSE(codec.comPortAgreed());
}

// What the server sends after the client's offer, and what the client keeps and answers.
struct ReceiveCase {
    const char* name;
    QByteArray in;
    QByteArray data;
    QByteArray replies;
    bool comPortAgreed;
};

void PrintTo(const ReceiveCase& c, std::ostream* os)
{
    *os << c.name;
}

class TelnetReceive : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(TelnetReceive, SeparatesDataFromCommands)
{
    const ReceiveCase& c = GetParam();
    TelnetCodec codec;
    codec.start();
    const TelnetCodec::Received whole = codec.receive(c.in);
    EXPECT_EQ(whole.data, c.data);
    EXPECT_EQ(whole.replies, c.replies);
    EXPECT_EQ(codec.comPortAgreed(), c.comPortAgreed);

    // The same bytes one at a time: commands straddling reads come out the same.
    TelnetCodec split;
    split.start();
    TelnetCodec::Received pieces;
    for (const char byte : c.in) {
        const TelnetCodec::Received one = split.receive(QByteArrayView(&byte, 1));
        pieces.data += one.data;
        pieces.replies += one.replies;
    }
    EXPECT_EQ(pieces.data, c.data);
    EXPECT_EQ(pieces.replies, c.replies);
}

const ReceiveCase ReceiveCases[] = {
    {"PlainData", "80\r", "80\r", {}, false},
    {"DoubledIacIsOneByte", bytes({'A', Iac, Iac, 'B'}), bytes({'A', 255, 'B'}), {}, false},
    {"AgreementToOwnOfferIsNotAnswered", bytes({Iac, Do, ComPort, Iac, Will, 0}), {}, {}, true},
    {"RequestForUnknownOptionIsRefused",
     bytes({Iac, Do, 24, Iac, Will, 1}),
     {},
     bytes({Iac, Wont, 24, Iac, Dont, 1}),
     false},
    {"ServerRefusingBinaryIsNotAnswered", bytes({Iac, Dont, 0, Iac, Wont, 0}), {}, {}, false},
    {"RepeatedAgreementIsNotAnswered", bytes({Iac, Do, ComPort, Iac, Do, ComPort}), {}, {}, true},
    {"WithdrawingAnAgreedOptionIsAcknowledged",
     bytes({Iac, Do, ComPort, Iac, Dont, ComPort}),
     {},
     bytes({Iac, Wont, ComPort}),
     false},
    {"ComPortAcknowledgementsAreConsumed",
     bytes({'x', Iac, Sb, ComPort, 101, 0, 0, 0x25, 0x80, Iac, Se, 'y'}),
     "xy",
     {},
     false},
    {"IacInsideASubnegotiationDoesNotEndIt",
     bytes({Iac, Sb, ComPort, 101, Iac, Iac, 0, 0, 1, Iac, Se, 'z'}),
     "z",
     {},
     false},
    {"OtherCommandsAreConsumed", bytes({'a', Iac, 241, 'b', Iac, 249, 'c'}), "abc", {}, false},
    {"OverlongSubnegotiationIsConsumedWhole",
     bytes({Iac, Sb, ComPort}) + QByteArray(5000, 'q') + bytes({Iac, Se, 'k'}),
     "k",
     {},
     false},
};

INSTANTIATE_TEST_SUITE_P(Cases, TelnetReceive, ::testing::ValuesIn(ReceiveCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(TelnetCodec, EscapesEveryIacAndNothingElse)
{
    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.append(char(b));
    const QByteArray escaped = TelnetCodec::escape(everyByte);
    EXPECT_EQ(escaped.size(), 257);
    EXPECT_EQ(escaped.right(2), bytes({Iac, Iac}));

    TelnetCodec codec;
    codec.start();
    EXPECT_EQ(codec.receive(escaped).data, everyByte);
}

// Speed, 8 data bits, no parity, one stop bit and no flow control, as COM-PORT commands.
TEST(TelnetCodec, SendsTheLineSettingsAsComPortCommands)
{
    const auto settings = parseSettings("9600,N,8,1");
    ASSERT_TRUE(settings);
    EXPECT_EQ(TelnetCodec::comPortSettings(*settings),
              bytes({Iac, Sb, ComPort, 1, 0, 0,   0x25, 0x80, Iac, Se, // SET-BAUDRATE 9600
                     Iac, Sb, ComPort, 2, 8, Iac, Se,                  // SET-DATASIZE 8
                     Iac, Sb, ComPort, 3, 1, Iac, Se,                  // SET-PARITY NONE
                     Iac, Sb, ComPort, 4, 1, Iac, Se,                  // SET-STOPSIZE 1
                     Iac, Sb, ComPort, 5, 1, Iac, Se}));               // SET-CONTROL none

    // A speed with a 255 byte in it is escaped inside the subnegotiation.
    LineSettings odd = *settings;
    odd.baud = 0x0001ff00;
    EXPECT_TRUE(TelnetCodec::comPortSettings(odd).startsWith(
        bytes({Iac, Sb, ComPort, 1, 0, 1, Iac, Iac, 0, Iac, Se})));
}

} // namespace
} // namespace qx200
