// Hard input from the operator through the free-command line, under a console on its real
// serial service with the test holding the far end of the line.

#include "e2e/FaultSupport.h"
#include "support/PseudoTerminal.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>

namespace qx200::testing {
namespace {

class FaultOperator : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(console.port.PortOpen()) << console.messages.join('\n').toStdString();
        console.openServicePanel();
    }

    // Puts the text in the box as the operator would paste it, and clicks "SEND".
    qint64 pasteAndSend(const QString& text)
    {
        console.form->Text1->clear();
        QGuiApplication::clipboard()->setText(text);
        console.form->Text1->setFocus();
        console.form->Text1->paste();
        QElapsedTimer clickTime;
        clickTime.start();
        console.click("Command95");
        return clickTime.elapsed();
    }

    PseudoTerminal line;
    FaultConsole console{line.link()};
};

TEST_F(FaultOperator, AMegabytePasteIsCutAtTheEntryBoundWithoutFreezingTheWindow)
{
    constexpr qsizetype Size = 1'000'000;
    constexpr qsizetype Kept = 32767; // as much as the received text is ever looked at
    std::mt19937 random(77);
    QString text;
    text.reserve(Size);
    while (text.size() < Size) // printable Latin-1, as far as a keyboard or a paste gives it
        text.append(QChar(char16_t(random() % 2 ? 32 + random() % 95 : 160 + random() % 96)));

    const qint64 sendMs = pasteAndSend(text);
    ASSERT_EQ(console.form->Text1->text().size(), Kept);

    LoopLatency latency;
    QElapsedTimer drain;
    drain.start();
    const QByteArray got = line.read(Kept + 1, 60000);
    const qint64 drainMs = drain.elapsed();

    EXPECT_LT(sendMs, 1000) << "SEND held the window";
    EXPECT_LT(latency.worstMs(), 500) << "the window stopped answering while the line drained";
    EXPECT_EQ(line.read(1, 200), QByteArray()) << "more than the cut line went out";
    ASSERT_EQ(got.size(), Kept + 1);
    EXPECT_TRUE(got == text.first(Kept).toLatin1() + '\r') << "the line arrived changed";
    std::printf("operator: %lld bytes sent by a click of %lld ms, drained in %lld ms, worst "
                "event-loop gap %lld ms\n",
                static_cast<long long>(got.size()), static_cast<long long>(sendMs),
                static_cast<long long>(drainMs), static_cast<long long>(latency.worstMs()));
}

struct TypedCase {
    const char* name;
    QString typed;
    QByteArray sent; // without the closing CR
};

void PrintTo(const TypedCase& c, std::ostream* os)
{
    *os << c.name;
}

QString controlCharacters()
{
    QString text;
    for (char16_t c = 0; c < 32; ++c)
        text.append(QChar(c));
    text.append(QChar(char16_t(127)));
    for (char16_t c = 0x80; c < 0xA0; ++c)
        text.append(QChar(c));
    return text;
}

QByteArray controlBytes()
{
    QByteArray bytes;
    for (int c = 0; c < 32; ++c)
        bytes.append(char(c));
    bytes.append(char(127));
    for (int c = 0x80; c < 0xA0; ++c)
        bytes.append(char(c));
    return bytes;
}

class FaultOperatorTyped : public FaultOperator, public ::testing::WithParamInterface<TypedCase> {};

TEST_P(FaultOperatorTyped, GoesOutByteForByte)
{
    pasteAndSend(GetParam().typed);
    const QByteArray expected = GetParam().sent + '\r';
    EXPECT_EQ(line.read(expected.size(), 3000), expected);
    EXPECT_EQ(line.read(1, 100), QByteArray()) << "more than the line went out";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FaultOperatorTyped,
    ::testing::Values(TypedCase{"ControlCharacters", controlCharacters(), controlBytes()},
                      TypedCase{"Latin1", QStringLiteral("CF INPUT \u00E9\u00FF\u00A0"),
                                QByteArray("CF INPUT \xE9\xFF\xA0")},
                      TypedCase{"OutsideLatin1", QStringLiteral("C\u0100R\u20AC0\u65E5\u672C"),
                                QByteArray("C?R?0??")}),
    [](const auto& typed) { return std::string(typed.param.name); });

} // namespace
} // namespace qx200::testing
