#include "console/panel/Layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace qx200::layout {
namespace {

using Names = std::set<std::string_view>;

const Control& mustFind(std::string_view name)
{
    const Control* control = find(name);
    if (control == nullptr) {
        throw std::runtime_error("no control named " + std::string(name));
    }
    return *control;
}

Names namesWhere(bool (*predicate)(const Control&))
{
    Names names;
    for (const Control& control : controls()) {
        if (predicate(control)) {
            names.insert(control.name);
        }
    }
    return names;
}

Names namesWithCaption(std::string_view caption)
{
    Names names;
    for (const Control& control : controls()) {
        if (control.caption == caption) {
            names.insert(control.name);
        }
    }
    return names;
}

TEST(LayoutTable, HasEveryKindInItsNumber)
{
    std::map<Kind, int> counts;
    for (const Control& control : controls()) {
        ++counts[control.kind];
    }
    EXPECT_EQ(counts[Kind::Button], 63);
    EXPECT_EQ(counts[Kind::Label], 22);
    EXPECT_EQ(counts[Kind::Frame], 13);
    EXPECT_EQ(counts[Kind::Option], 4);
    EXPECT_EQ(counts[Kind::TextBox], 1);
    EXPECT_EQ(counts[Kind::Image], 1);
    EXPECT_EQ(lines().size(), 12u);
    EXPECT_EQ(timers().size(), 5u);
    EXPECT_EQ(controls().size() + lines().size() + timers().size() + 1, 122u);
}

TEST(LayoutTable, NamesAreUniqueAcrossControlsLinesTimersAndTheSerialControl)
{
    std::multiset<std::string_view> names{SerialControlName};
    for (const Control& control : controls()) {
        names.insert(control.name);
        EXPECT_EQ(find(control.name), &control) << control.name;
    }
    for (const Line& line : lines()) {
        names.insert(line.name);
    }
    for (const Timer& timer : timers()) {
        names.insert(timer.name);
    }
    for (std::string_view name : names) {
        EXPECT_EQ(names.count(name), 1u) << name;
    }
    EXPECT_EQ(find("Command0"), nullptr);
    EXPECT_EQ(find(""), nullptr);
}

TEST(LayoutTable, EveryContainerIsAFrameThatHoldsItsChildren)
{
    for (const Control& child : controls()) {
        if (child.container.empty()) {
            continue;
        }
        const Control* frame = find(child.container);
        ASSERT_NE(frame, nullptr) << child.name << " in " << child.container;
        EXPECT_EQ(frame->kind, Kind::Frame) << child.name << " in " << child.container;
        EXPECT_GE(child.left, 0) << child.name;
        EXPECT_GE(child.top, 0) << child.name;
        EXPECT_LE(child.left + child.width, frame->width) << child.name << " in " << frame->name;
        EXPECT_LE(child.top + child.height, frame->height) << child.name << " in " << frame->name;
    }
}

TEST(LayoutTable, EverythingFitsTheFullClientArea)
{
    EXPECT_EQ(clientHeightFor(FullServicePanel), FullClientHeight);
    for (const Control& control : controls()) {
        const Rect rect = absoluteRect(control);
        EXPECT_GT(rect.width, 0) << control.name;
        EXPECT_GT(rect.height, 0) << control.name;
        EXPECT_LE(rect.right(), ClientWidth) << control.name;
        EXPECT_LE(rect.bottom(), FullClientHeight) << control.name;
    }
    // The outline of the cursor cross is already seen at the normal height.
    for (const Line& line : lines()) {
        EXPECT_LE(std::max(line.x1, line.x2), ClientWidth) << line.name;
        EXPECT_LE(std::max(line.y1, line.y2), clientHeightFor(NormalPanel)) << line.name;
        EXPECT_TRUE(line.x1 == line.x2 || line.y1 == line.y2) << line.name;
    }
}

TEST(LayoutTable, AbsoluteRectAddsUpNestedFrames)
{
    const Rect option = absoluteRect(mustFind("Option9")); // Frame13 inside Frame8
    EXPECT_EQ(option.left, 3480 + 120 + 120);
    EXPECT_EQ(option.top, 3600 + 480 + 240);
    EXPECT_EQ(option.width, 1095);
    EXPECT_EQ(option.height, 255);

    const Rect button = absoluteRect(mustFind("Command17"));
    EXPECT_EQ(button.left, 120 + 120);
    EXPECT_EQ(button.top, 240 + 600);

    // The port panel, once shown, covers the "COM" button that opens it.
    const Rect panel = absoluteRect(mustFind("Frame8"));
    const Rect com = absoluteRect(mustFind("Command33"));
    EXPECT_LE(panel.left, com.left);
    EXPECT_LE(panel.top, com.top);
    EXPECT_GE(panel.right(), com.right());
    EXPECT_GE(panel.bottom(), com.bottom());
}

TEST(LayoutTable, TabPlacesAreUniqueAndFocusStartsOnPowerOn)
{
    std::map<int, std::string_view> byTab;
    for (const Control& control : controls()) {
        if (control.tab < 0) {
            EXPECT_EQ(control.kind, Kind::Image) << control.name;
            continue;
        }
        const auto [it, inserted] = byTab.emplace(control.tab, control.name);
        EXPECT_TRUE(inserted) << control.name << " shares tab " << control.tab << " with "
                              << it->second;
    }
    EXPECT_EQ(byTab.size(), controls().size() - 1);

    // The first place that can take the focus (frames and labels cannot).
    const auto first = std::find_if(byTab.begin(), byTab.end(), [](const auto& entry) {
        const Kind kind = mustFind(entry.second).kind;
        return kind != Kind::Frame && kind != Kind::Label;
    });
    ASSERT_NE(first, byTab.end());
    EXPECT_EQ(first->second, "Command17");
}

TEST(LayoutTable, ExactlyTheThirteenHoldButtonsRepeat)
{
    const Names hold = namesWhere([](const Control& c) { return (c.flags & PressAndHold) != 0; });
    const Names expected{"Command1",  "Command2",  "Command5",  "Command6",  "Command7",
                         "Command8",  "Command9",  "Command15", "Command35", "Command48",
                         "Command49", "Command50", "Command51"};
    EXPECT_EQ(hold, expected);
    for (std::string_view name : hold) {
        EXPECT_EQ(mustFind(name).kind, Kind::Button) << name;
    }
}

TEST(LayoutTable, StartStateFlagsColoursAndFonts)
{
    EXPECT_EQ(namesWhere([](const Control& c) { return (c.flags & Hidden) != 0; }),
              (Names{"Frame8", "Command34"}));
    EXPECT_EQ(namesWhere([](const Control& c) { return (c.flags & Selected) != 0; }),
              (Names{"Option9"}));
    EXPECT_EQ(namesWhere([](const Control& c) { return c.foreground != 0x000000; }),
              (Names{"Label1", "Label22"}));
    EXPECT_EQ(mustFind("Label1").foreground, 0xC00000u);
    EXPECT_EQ(mustFind("Label22").foreground, 0xFF0000u);

    // The two radio groups are the two frames of the port panel.
    EXPECT_EQ(mustFind("Option1").container, "Frame8");
    EXPECT_EQ(mustFind("Option2").container, "Frame8");
    EXPECT_EQ(mustFind("Option9").container, "Frame13");
    EXPECT_EQ(mustFind("Option10").container, "Frame13");
    EXPECT_EQ(mustFind("Frame13").container, "Frame8");

    // The three display lines start empty, boxed, on white.
    for (std::string_view name : {"Label11", "Label12", "Label22"}) {
        const Control& label = mustFind(name);
        EXPECT_TRUE(label.caption.empty()) << name;
        EXPECT_NE(label.flags & Border, 0u) << name;
        EXPECT_EQ(label.background, 0xFFFFFFu) << name;
    }
    EXPECT_TRUE(mustFind("Text1").caption.empty());
    EXPECT_FALSE(mustFind("Text1").background.has_value());
    EXPECT_FALSE(mustFind("Command33").background.has_value());

    // Frames carry no text of their own and use the window's font.
    for (const Control& control : controls()) {
        if (control.kind == Kind::Frame) {
            EXPECT_TRUE(control.caption.empty()) << control.name;
            EXPECT_EQ(control.font.face, WindowFont.face) << control.name;
            EXPECT_EQ(control.font.points, WindowFont.points) << control.name;
            EXPECT_EQ(control.font.bold, WindowFont.bold) << control.name;
        }
    }
}

TEST(LayoutTable, CaptionsAreExact)
{
    EXPECT_EQ(WindowCaption, "MARO" + std::string(3, ' ') + "QX200" + std::string(2, ' ') +
                                 "CONTROL" + std::string(3, ' ') + "Ver.1.40");
    const std::pair<std::string_view, std::string_view> captions[] = {
        {"Command12", "B.Board"},          {"Label17", "D.Zoom"},
        {"Label6", "Screen Size"},         {"Command3", "DISPLAY CLEAR"},
        {"Label2", "INPUT MODE SET"},      {"Label4", "SOUND MUTE"},
        {"Command34", "データを表示する"}, {"Command5", "↑"},
    };
    for (const auto& [name, caption] : captions) {
        EXPECT_EQ(mustFind(name).caption, caption) << name;
    }
}

TEST(LayoutTable, RepeatedCaptionsBelongToDistinctControls)
{
    EXPECT_EQ(namesWithCaption("HDMI"), (Names{"Command56", "Command58"}));
    EXPECT_EQ(namesWithCaption("RGB"), (Names{"Command64", "Command72"}));
    EXPECT_EQ(namesWithCaption("Video"), (Names{"Command29", "Command82", "Label24"}));
    EXPECT_EQ(namesWithCaption("STATUS"), (Names{"Command44", "Label23"}));
    EXPECT_EQ(namesWithCaption("ON"),
              (Names{"Command17", "Command19", "Command21", "Command23", "Command25"}));
    EXPECT_EQ(namesWithCaption("OFF"),
              (Names{"Command18", "Command20", "Command22", "Command24", "Command26"}));
}

// What each window height shows of the panel's top-level controls.
struct Tier {
    std::string name;
    int outerHeight;
    int lowestVisibleBottom;               // bottom edge of the lowest fully visible control
    std::vector<std::string_view> shown;   // fully inside the client area
    std::vector<std::string_view> cut;     // not fully inside
    std::vector<std::string_view> slivers; // the only controls cut by the bottom edge
};

class WindowTier : public ::testing::TestWithParam<Tier> {};

bool fullyInside(const Rect& rect, int clientHeight)
{
    return rect.top >= 0 && rect.bottom() <= clientHeight;
}

TEST_P(WindowTier, ShowsThePanelDownToItsDepth)
{
    const Tier& tier = GetParam();
    const int client = clientHeightFor(tier.outerHeight);

    for (std::string_view name : tier.shown) {
        EXPECT_TRUE(fullyInside(absoluteRect(mustFind(name)), client)) << name;
    }
    for (std::string_view name : tier.cut) {
        EXPECT_FALSE(fullyInside(absoluteRect(mustFind(name)), client)) << name;
    }

    int lowest = 0;
    Names sliced;
    for (const Control& control : controls()) {
        if (!control.container.empty()) {
            continue;
        }
        const Rect rect = absoluteRect(control);
        if (rect.bottom() <= client) {
            lowest = std::max(lowest, rect.bottom());
        } else if (rect.top < client) {
            sliced.insert(control.name);
        }
    }
    EXPECT_EQ(lowest, tier.lowestVisibleBottom);
    EXPECT_EQ(sliced, Names(tier.slivers.begin(), tier.slivers.end()));
}

const Tier tiers[] = {
    {"NormalPanel",
     NormalPanel,
     4815,
     {"Frame1", "Frame2", "Frame6", "Image1", "Frame3", "Frame5", "Command5", "Command3",
      "Command42", "Command12", "Command37", "Command33", "Frame8", "Frame10", "Command16"},
     {"Frame9", "Command34", "Command44", "Command55", "Frame14", "Command36", "Frame15"},
     {"Frame9"}},
    {"DataView",
     DataView,
     6210,
     {"Command42", "Frame8", "Frame10", "Command16", "Frame9", "Command34", "Command44",
      "Command46", "Command54", "Command45", "Command47", "Command55"},
     {"Frame14", "Command36", "Frame15"},
     {}},
    {"ServicePanel",
     ServicePanel,
     6210,
     {"Command42", "Frame8", "Frame10", "Command16", "Frame9", "Command34", "Command44",
      "Command46", "Command54", "Command45", "Command47", "Command55"},
     {"Frame14", "Command36", "Frame15"},
     {"Frame14"}},
    {"FullServicePanel",
     FullServicePanel,
     8610,
     {"Frame1", "Command16", "Frame9", "Command55", "Frame14", "Command36", "Frame15"},
     {},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Heights, WindowTier, ::testing::ValuesIn(tiers),
                         [](const ::testing::TestParamInfo<Tier>& param) {
                             return param.param.name;
                         });

} // namespace
} // namespace qx200::layout
