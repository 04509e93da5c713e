#include "console/panel/PanelLabel.h"
#include "console/panel/Appearance.h"
#include "console/panel/Layout.h"
#include "protocol/TraceRendering.h"

#include <QImage>
#include <gtest/gtest.h>
#include <ostream>

namespace qx200 {
namespace {

// A long caption is painted from its visible part only; the pixels must be those of a plain
// label with the whole caption, whatever the caption holds.
struct Caption {
    const char* name;
    QByteArray bytes; // rendered into the caption
    Qt::Alignment alignment;
    bool boxed;
};
void PrintTo(const Caption& value, std::ostream* os)
{
    *os << value.name;
}

QByteArray repeated(QByteArrayView piece, qsizetype size)
{
    QByteArray bytes;
    while (bytes.size() < size)
        bytes += piece;
    return bytes.first(size);
}

QByteArray everyByte(qsizetype size)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < size; ++i)
        bytes.append(char((i * 37) % 256));
    return bytes;
}

const Caption Captions[] = {
    {"ShortBoxed", "00\r", Qt::AlignLeft | Qt::AlignVCenter, true},
    {"FloodBoxed", everyByte(MaxRenderedBytes), Qt::AlignLeft | Qt::AlignVCenter, true},
    {"NarrowCharacters", repeated("il.", 5000), Qt::AlignLeft | Qt::AlignVCenter, true},
    {"WideCharacters", repeated("WM", 5000), Qt::AlignLeft | Qt::AlignVCenter, true},
    {"Ampersands",
     repeated("\x14\x14"
              "A\x14",
              4000),
     Qt::AlignLeft | Qt::AlignVCenter, true},
    {"Unboxed", everyByte(3000), Qt::AlignLeft | Qt::AlignTop, false},
    {"CentredFallsBack", everyByte(600), Qt::AlignHCenter | Qt::AlignVCenter, true},
    {"RightFallsBack", everyByte(600), Qt::AlignRight | Qt::AlignVCenter, true},
};

class PanelLabelPainting : public ::testing::TestWithParam<Caption> {};

template <class Label> QImage paintedAs(const Caption& c)
{
    const layout::Control& row = *layout::find("Label12");
    Label label;
    label.setFont(fontFor(row.font));
    label.setTextFormat(Qt::PlainText);
    label.setAlignment(c.alignment);
    if (c.boxed) {
        label.setFrameStyle(QFrame::Box | QFrame::Plain);
        label.setLineWidth(1);
    }
    label.resize(374, 20);
    label.setText(QString::fromLatin1(renderTrace(c.bytes)));
    return label.grab().toImage();
}

TEST_P(PanelLabelPainting, LooksLikeAPlainLabel)
{
    EXPECT_EQ(paintedAs<PanelLabel>(GetParam()), paintedAs<QLabel>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Captions, PanelLabelPainting, ::testing::ValuesIn(Captions),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PanelLabel, KeepsTheWholeCaption)
{
    PanelLabel label;
    label.resize(374, 20);
    const QString caption = QString::fromLatin1(renderTrace(everyByte(MaxRenderedBytes)));
    label.setText(caption);
    label.grab();
    EXPECT_EQ(label.text(), caption);
}

} // namespace
} // namespace qx200
