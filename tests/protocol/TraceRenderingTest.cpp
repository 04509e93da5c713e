#include "protocol/TraceRendering.h"

#include <gtest/gtest.h>

namespace qx200 {
namespace {

QByteArray bytesOf(std::initializer_list<int> codes)
{
    QByteArray bytes;
    for (int code : codes)
        bytes.append(static_cast<char>(code));
    return bytes;
}

// The rule stated as ranges of codes, independently of the implementation's order of tests.
struct CodeRange {
    int first;
    int last;
    const char* piece; // nullptr: the character itself and a space
};

constexpr CodeRange Ranges[] = {
    {0, 5, "? "},   {6, 6, "ACK "},     {7, 9, "? "},     {10, 10, "LF "},
    {11, 12, "? "}, {13, 13, "CR "},    {14, 19, "? "},   {20, 20, "&"},
    {21, 31, "? "}, {32, 122, nullptr}, {123, 255, "? "},
};

TEST(TraceRendering, EveryByteValueRendersByItsCodeRange)
{
    int next = 0;
    for (const CodeRange& range : Ranges) {
        ASSERT_EQ(range.first, next) << "ranges must cover 0..255 without gaps";
        for (int code = range.first; code <= range.last; ++code) {
            const QByteArray expected = range.piece ? QByteArray(range.piece)
                                                    : QByteArray(1, static_cast<char>(code)) + ' ';
            EXPECT_EQ(tracePiece(static_cast<unsigned char>(code)).toByteArray(), expected)
                << "code " << code;
        }
        next = range.last + 1;
    }
    EXPECT_EQ(next, 256);
}

TEST(TraceRendering, WholeRenderingIsASpaceThenEveryPiece)
{
    QByteArray all;
    QByteArray expected(" ");
    for (int code = 0; code < 256; ++code) {
        all.append(static_cast<char>(code));
        expected += tracePiece(static_cast<unsigned char>(code));
    }
    EXPECT_EQ(renderTrace(all), expected);
    EXPECT_EQ(renderTrace({}), " ");
}

struct RenderingExample {
    const char* name;
    QByteArray text;
    QByteArray rendering;
};

class RenderingExamples : public testing::TestWithParam<RenderingExample> {};

TEST_P(RenderingExamples, RenderAsShown)
{
    EXPECT_EQ(renderTrace(GetParam().text), GetParam().rendering);
}

INSTANTIATE_TEST_SUITE_P(
    TraceRendering, RenderingExamples,
    testing::Values(RenderingExample{"CommandLine", "C00\r", " C 0 0 CR "},
                    RenderingExample{"SpacesRenderDoubled", "CF INPUT HDMI HDMI\r",
                                     " C F   I N P U T   H D M I   H D M I CR "},
                    RenderingExample{"ReplyWithCarriageReturn", "00\r", " 0 0 CR "},
                    RenderingExample{"Acknowledgement", bytesOf({6, '0'}), " ACK 0 "},
                    RenderingExample{"Code20HasNoSpace", bytesOf({20, '1'}), " &1 "},
                    RenderingExample{"BraceIsUnknown", "a{", " a ? "},
                    RenderingExample{"CarriageReturnAlone", "\r", " CR "},
                    RenderingExample{"LineFeed", "\n", " LF "},
                    RenderingExample{"PrintableQuestionMark", "?", " ? "},
                    RenderingExample{"ByteAboveAscii",
                                     bytesOf({'z', 0x80, 0xFF, '|', '}', '~', 127}),
                                     " z ? ? ? ? ? ? "},
                    RenderingExample{"NulAndTab", bytesOf({0, 9}), " ? ? "}),
    [](const testing::TestParamInfo<RenderingExample>& testCase) { return testCase.param.name; });

// A text exercising every kind of piece, used for splitting.
QByteArray mixedText()
{
    QByteArray text = bytesOf({6, '0', '0', 13, 10, 20, '1', 0, 127, 200, 255, ' ', 'z', '{'});
    text += "CR PRESSURE\r";
    return text;
}

TEST(TraceRendering, RenderingOfAConcatenationContinuesWithThePiecesOfTheSecondPart)
{
    const QByteArray text = mixedText();
    for (qsizetype split = 0; split <= text.size(); ++split) {
        const QByteArray head = text.first(split);
        const QByteArray tail = text.sliced(split);
        QByteArray rendering = renderTrace(head);
        appendTracePieces(rendering, tail);
        EXPECT_EQ(rendering, renderTrace(text)) << "split at " << split;
    }
}

TEST(RenderedText, StartsAndClearsToASingleSpace)
{
    RenderedText text;
    EXPECT_EQ(text.rendering(), " ");
    EXPECT_TRUE(text.bytes().isEmpty());
    EXPECT_EQ(text.received(), 0);
    EXPECT_TRUE(text.isEmpty());

    text.append("00\r");
    EXPECT_FALSE(text.isEmpty());
    const QByteArray shown = text.rendering();
    text.clear();
    EXPECT_EQ(shown, " 0 0 CR ") << "a copy taken before clear() must not change";
    EXPECT_EQ(text.rendering(), " ");
    EXPECT_TRUE(text.bytes().isEmpty());
    EXPECT_EQ(text.received(), 0);
    EXPECT_TRUE(text.isEmpty());

    text.append("80\r");
    EXPECT_EQ(text.rendering(), " 8 0 CR ");
}

TEST(RenderedText, EmptyArrivalChangesNothingButIsAccepted)
{
    RenderedText text;
    text.append("0");
    text.append(QByteArrayView());
    EXPECT_EQ(text.rendering(), " 0 ");
    EXPECT_EQ(text.received(), 1);
}

TEST(RenderedText, ArrivalsInPiecesRenderLikeTheWhole)
{
    const QByteArray whole = mixedText();
    for (qsizetype chunk = 1; chunk <= 5; ++chunk) {
        RenderedText text;
        for (qsizetype at = 0; at < whole.size(); at += chunk)
            text.append(QByteArrayView(whole).sliced(at, std::min(chunk, whole.size() - at)));
        EXPECT_EQ(text.bytes(), whole) << "chunk " << chunk;
        EXPECT_EQ(text.rendering(), renderTrace(whole)) << "chunk " << chunk;
        EXPECT_EQ(text.received(), whole.size());
    }
}

TEST(RenderedText, KeepsTheFirst32767BytesAndCountsTheRest)
{
    // Chunks of 1000 bytes cross the limit inside a chunk; the rest arrive after it.
    QByteArray flood;
    for (int i = 0; i < 40000; ++i)
        flood.append(static_cast<char>(i % 256));
    RenderedText text;
    for (qsizetype at = 0; at < flood.size(); at += 1000)
        text.append(QByteArrayView(flood).sliced(at, std::min<qsizetype>(1000, flood.size() - at)));

    EXPECT_EQ(text.received(), 40000);
    EXPECT_EQ(text.bytes(), flood.first(MaxRenderedBytes));
    EXPECT_EQ(text.rendering(), renderTrace(flood.first(MaxRenderedBytes)));

    const QByteArray renderingAtLimit = text.rendering();
    text.append("00\r");
    EXPECT_EQ(text.received(), 40003);
    EXPECT_EQ(text.bytes().size(), MaxRenderedBytes);
    EXPECT_EQ(text.rendering(), renderingAtLimit);
}

TEST(RenderedText, FillsExactlyToTheLimit)
{
    RenderedText text;
    text.append(QByteArray(MaxRenderedBytes - 1, '5'));
    text.append("67");
    EXPECT_EQ(text.bytes().size(), MaxRenderedBytes);
    EXPECT_EQ(text.bytes().back(), '6');
    EXPECT_TRUE(text.rendering().endsWith(" 5 6 "));
    EXPECT_EQ(text.received(), MaxRenderedBytes + 1);
}

TEST(RenderedText, AppendingItsOwnContentsIsSafe)
{
    RenderedText text;
    text.append("01");
    text.append(text.bytes());
    EXPECT_EQ(text.bytes(), "0101");
    text.append(text.rendering());
    EXPECT_EQ(text.bytes(), "0101 0 1 0 1 ");
    EXPECT_EQ(text.rendering(), renderTrace("0101 0 1 0 1 "));

    QByteArray rendering(" A ");
    appendTracePieces(rendering, rendering);
    EXPECT_EQ(rendering, " A   A   ");
}

TEST(RenderedText, WhatCameAfterTheMarkRendersAlone)
{
    RenderedText text;
    EXPECT_EQ(renderingFrom(text.rendering(), text.markAt()), renderTrace(""));
    text.append("01234\r\x14");
    text.mark();
    text.append("025.0\x06");
    EXPECT_EQ(renderingFrom(text.rendering(), text.markAt()), renderTrace("025.0\x06"));
    EXPECT_EQ(text.rendering(), renderTrace("01234\r\x14"
                                            "025.0\x06"));
    text.clear();
    text.append("8");
    EXPECT_EQ(renderingFrom(text.rendering(), text.markAt()), renderTrace("8"));
}

} // namespace
} // namespace qx200
