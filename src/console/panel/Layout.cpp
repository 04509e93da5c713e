#include "console/panel/Layout.h"

#include <iterator>

namespace qx200::layout {

namespace {

constexpr Kind Button = Kind::Button;
constexpr Kind Label = Kind::Label;
constexpr Kind Frame = Kind::Frame;
constexpr Kind Option = Kind::Option;
constexpr Kind TextBox = Kind::TextBox;
constexpr Kind Image = Kind::Image;

// Fills. NoFill leaves the platform's own colour (button face, window background).
constexpr std::optional<std::uint32_t> NoFill = std::nullopt;
constexpr std::uint32_t Grey = 0xC0C0C0;
constexpr std::uint32_t Green = 0xC0FFC0;
constexpr std::uint32_t Pink = 0xFFC0C0;
constexpr std::uint32_t Cyan = 0xC0FFFF;
constexpr std::uint32_t Blue = 0xC0C0FF;
constexpr std::uint32_t Teal = 0x00C0C0;
constexpr std::uint32_t Peach = 0xFFE0C0;
constexpr std::uint32_t Orange = 0xFF8000;
constexpr std::uint32_t Apricot = 0xFFC080;
constexpr std::uint32_t White = 0xFFFFFF;

// Text colours.
constexpr std::uint32_t Black = 0x000000;
constexpr std::uint32_t DarkRed = 0xC00000;
constexpr std::uint32_t Red = 0xFF0000;

// Fonts: face, points, b for bold. Win is the window's font (frames, the image).
constexpr Font G825{Face::G, 8.25, false};
constexpr Font G825b{Face::G, 8.25, true};
constexpr Font G9{Face::G, 9.0, false};
constexpr Font G9b{Face::G, 9.0, true};
constexpr Font G975{Face::G, 9.75, false};
constexpr Font G975b{Face::G, 9.75, true};
constexpr Font PG9{Face::PG, 9.0, false};
constexpr Font PG9b{Face::PG, 9.0, true};
constexpr Font PG975b{Face::PG, 9.75, true};
constexpr Font Win = WindowFont;

constexpr unsigned None = NoFlags;
constexpr unsigned Hold = PressAndHold;
constexpr unsigned Right = RightAligned;
constexpr unsigned Boxed = Border;

constexpr std::string_view Window{};
constexpr std::string_view NoCaption{};

// clang-format off
constexpr Control Controls[] = {
    // name         kind     in         caption             left  top   width height fill    text     font    tab flags

    // Top row: power, input, menu, logo.
    {"Frame1",      Frame,   Window,    NoCaption,           120,  240, 1695,  975, Grey,   Black,   Win,     0, None},
    {"Label1",      Label,   "Frame1",  "POWER",             240,  240, 1095,  255, Grey,   DarkRed, G9b,     2, Centred},
    {"Command17",   Button,  "Frame1",  "ON",                120,  600,  615,  300, Green,  Black,   PG9b,    1, None},
    {"Command18",   Button,  "Frame1",  "OFF",               960,  600,  615,  300, Pink,   Black,   PG9b,   27, None},
    {"Frame2",      Frame,   Window,    NoCaption,          2520,  240, 3015,  975, Grey,   Black,   Win,     3, None},
    {"Label2",      Label,   "Frame2",  "INPUT MODE SET",    480,  240, 1935,  255, Grey,   Black,   G9b,     4, Centred},
    {"Command27",   Button,  "Frame2",  "PC1",               120,  600,  495,  300, Cyan,   Black,   PG9b,   36, None},
    {"Command28",   Button,  "Frame2",  "PC2",               720,  600,  495,  300, Cyan,   Black,   PG9b,   37, None},
    {"Command29",   Button,  "Frame2",  "Video",            1320,  600,  735,  300, Cyan,   Black,   PG9b,   38, None},
    {"Command56",   Button,  "Frame2",  "HDMI",             2160,  600,  735,  300, Cyan,   Black,   G9b,   101, None},
    {"Frame6",      Frame,   Window,    NoCaption,          6240,  240, 1695,  975, Grey,   Black,   Win,    14, None},
    {"Label7",      Label,   "Frame6",  "MENU",              360,  240,  975,  255, Grey,   Black,   G9b,    15, Centred},
    {"Command23",   Button,  "Frame6",  "ON",                120,  600,  615,  300, Green,  Black,   PG9b,   32, None},
    {"Command24",   Button,  "Frame6",  "OFF",               960,  600,  615,  300, Pink,   Black,   PG9b,   33, None},
    {"Image1",      Image,   Window,    NoCaption,          8160,  120, 1200,  390, NoFill, Black,   Win,    -1, None},

    // Second row: four groups.
    {"Frame3",      Frame,   Window,    NoCaption,           120, 1440, 1695,  855, Grey,   Black,   Win,     8, None},
    {"Label4",      Label,   "Frame3",  "SOUND MUTE",        120,  195, 1455,  300, Grey,   Black,   G9b,     9, Centred},
    {"Command19",   Button,  "Frame3",  "ON",                120,  480,  615,  300, Green,  Black,   PG9b,   28, None},
    {"Command20",   Button,  "Frame3",  "OFF",               960,  480,  615,  300, Pink,   Black,   PG9b,   29, None},
    {"Frame4",      Frame,   Window,    NoCaption,          2520, 1440, 1695,  855, Grey,   Black,   Win,    10, None},
    {"Label5",      Label,   "Frame4",  "NO SHOW",           360,  210, 1095,  285, Grey,   Black,   G9b,    11, Centred},
    {"Command21",   Button,  "Frame4",  "ON",                120,  480,  615,  300, Green,  Black,   PG9b,   30, None},
    {"Command22",   Button,  "Frame4",  "OFF",               960,  480,  615,  300, Pink,   Black,   PG9b,   31, None},
    {"Frame7",      Frame,   Window,    NoCaption,          5040, 1440, 1695,  855, Grey,   Black,   Win,    22, None},
    {"Label8",      Label,   "Frame7",  "FREEZE",            240,  210, 1215,  285, Grey,   Black,   G9b,    23, Centred},
    {"Command25",   Button,  "Frame7",  "ON",                120,  480,  615,  300, Green,  Black,   PG9b,   34, None},
    {"Command26",   Button,  "Frame7",  "OFF",               960,  480,  615,  300, Pink,   Black,   PG9b,   35, None},
    {"Frame5",      Frame,   Window,    NoCaption,          7440, 1440, 1815,  855, Grey,   Black,   Win,    12, None},
    {"Label6",      Label,   "Frame5",  "Screen Size",       120,  210, 1575,  285, Grey,   Black,   G9b,    13, Centred},
    {"Command31",   Button,  "Frame5",  "Normal",            120,  480,  855,  300, Cyan,   Black,   PG9,    39, None},
    {"Command32",   Button,  "Frame5",  "Full",             1080,  480,  615,  300, Cyan,   Black,   PG9,    40, None},

    // Cursor cross, adjusters and the right-hand column.
    {"Command5",    Button,  Window,    "↑",                1200, 2520,  855,  375, Peach,  Black,   PG9b,   17, Hold},
    {"Command9",    Button,  Window,    "←",                 240, 3000,  855,  375, Peach,  Black,   PG9b,   21, Hold},
    {"Command6",    Button,  Window,    "SELECT",           1200, 3000,  855,  375, Orange, Black,   G9,     18, Hold},
    {"Command8",    Button,  Window,    "→",                2160, 3000,  855,  375, Peach,  Black,   PG9b,   20, Hold},
    {"Command7",    Button,  Window,    "↓",                1200, 3480,  855,  375, Peach,  Black,   PG9b,   19, Hold},
    {"Label3",      Label,   Window,    "VOL",              3600, 2520,  495,  255, Grey,   Black,   G9b,     7, Centred},
    {"Command1",    Button,  Window,    "+",                3600, 2880,  375,  255, Apricot, Black,  G9b,     5, Hold},
    {"Command2",    Button,  Window,    "-",                3600, 3240,  375,  255, Apricot, Black,  G9b,     6, Hold},
    {"Label13",     Label,   Window,    "Brightness",       4560, 2520,  975,  255, Grey,   Black,   G9,     53, None},
    {"Command15",   Button,  Window,    "+",                4800, 2880,  375,  255, Cyan,   Black,   G9,     51, Hold},
    {"Command35",   Button,  Window,    "-",                4800, 3240,  375,  255, Cyan,   Black,   G9,     52, Hold},
    {"Label17",     Label,   Window,    "D.Zoom",           6360, 2520,  735,  255, Grey,   Black,   G9,     60, None},
    {"Command48",   Button,  Window,    "+",                6480, 2880,  375,  255, Cyan,   Black,   PG9,    58, Hold},
    {"Command49",   Button,  Window,    "-",                6480, 3240,  375,  255, Cyan,   Black,   G9,     59, Hold},
    {"Label18",     Label,   Window,    "Keystone",         7320, 2520,  855,  255, Grey,   Black,   G9,     63, None},
    {"Command50",   Button,  Window,    "+",                7440, 2880,  375,  255, Cyan,   Black,   G9,     61, Hold},
    {"Command51",   Button,  Window,    "-",                7440, 3240,  375,  255, Cyan,   Black,   G9,     62, Hold},
    {"Command13",   Button,  Window,    "A-IMAGE",          8400, 2760,  975,  250, Teal,   Black,   G9,     24, None},
    {"Command30",   Button,  Window,    "IMAGE",            8400, 3120,  975,  255, Blue,   Black,   G9,     65, None},
    {"Command14",   Button,  Window,    "P-TIMER",          8400, 3360,  975,  250, Blue,   Black,   G9,     25, None},
    {"Command3",    Button,  Window,    "DISPLAY CLEAR",    8400, 3600,  975,  492, Blue,   Black,   G9,     16, None},
    {"Command16",   Button,  Window,    "END",              8400, 4320,  975,  375, Grey,   Black,   G9b,    26, None},

    // Picture modes, port panel, fan mode.
    {"Command4",    Button,  Window,    "STAND",             240, 4080,  975,  255, Cyan,   Black,   G9,     69, None},
    {"Command10",   Button,  Window,    "REAL",             1200, 4080,  975,  255, Cyan,   Black,   G9,     70, None},
    {"Command11",   Button,  Window,    "CINEMA",           2160, 4080,  975,  255, Cyan,   Black,   G9,     71, None},
    {"Command39",   Button,  Window,    "IMAGE1",            240, 4320,  975,  255, Cyan,   Black,   G9,     72, None},
    {"Command40",   Button,  Window,    "IMAGE2",           1200, 4320,  975,  255, Cyan,   Black,   G9,     73, None},
    {"Command41",   Button,  Window,    "IMAGE3",           2160, 4320,  975,  255, Cyan,   Black,   G9,     74, None},
    {"Command42",   Button,  Window,    "IMAGE4",            240, 4560,  975,  255, Cyan,   Black,   G9,     75, None},
    {"Command12",   Button,  Window,    "B.Board",          1200, 4560,  975,  255, Cyan,   Black,   G9,     91, None},
    {"Command37",   Button,  Window,    "Dynamic",          2160, 4560,  975,  255, Cyan,   Black,   G9,     93, None},
    {"Command33",   Button,  Window,    "COM",              4080, 4200, 1815,  375, NoFill, Black,   PG9,    41, None},
    {"Frame8",      Frame,   Window,    NoCaption,          3480, 3600, 2775, 1185, Grey,   Black,   Win,    42, Hidden},
    {"Option1",     Option,  "Frame8",  "COM1",              240,  240, 1215,  255, Grey,   Black,   G9b,    43, None},
    {"Option2",     Option,  "Frame8",  "COM2",             1560,  240, 1095,  255, Grey,   Black,   G9b,    44, None},
    {"Frame13",     Frame,   "Frame8",  NoCaption,           120,  480, 2535,  615, Grey,   Black,   Win,    66, None},
    {"Option9",     Option,  "Frame13", "19200",             120,  240, 1095,  255, Grey,   Black,   G9b,    67, Selected},
    {"Option10",    Option,  "Frame13", "9600",             1440,  240,  975,  300, Grey,   Black,   G9b,    68, None},
    {"Frame10",     Frame,   Window,    NoCaption,          6480, 3720, 1695,  975, Grey,   Black,   Win,    94, None},
    {"Label14",     Label,   "Frame10", "FAN MODE",          240,  240, 1335,  255, Grey,   Black,   G9b,    97, Centred},
    {"Command38",   Button,  "Frame10", "L1",                120,  600,  735,  300, Green,  Black,   G9,     95, None},
    {"Command43",   Button,  "Frame10", "L2",                960,  600,  615,  300, Pink,   Black,   G9,     96, None},

    // Trace and status frame, data and service buttons.
    {"Frame9",      Frame,   Window,    NoCaption,            45, 4920, 6312, 1290, Grey,   Black,   Win,    45, None},
    {"Label9",      Label,   "Frame9",  "TXD",               105,  210,  390,  285, Grey,   Black,   G9,     46, Right},
    {"Label11",     Label,   "Frame9",  NoCaption,           600,  180, 5610,  300, White,  Black,   PG975b, 48, Boxed},
    {"Label10",     Label,   "Frame9",  "RXD",                75,  555,  450,  300, Grey,   Black,   G9,     47, Right},
    {"Label12",     Label,   "Frame9",  NoCaption,           600,  540, 5616,  300, White,  Black,   PG975b, 49, Boxed},
    {"Label23",     Label,   "Frame9",  "STATUS",            120,  960,  735,  225, Grey,   Black,   G825,   90, None},
    {"Label22",     Label,   "Frame9",  NoCaption,           930,  915, 5295,  300, White,  Red,     PG9b,   89, Boxed},
    {"Command34",   Button,  Window,    "データを表示する", 6600, 5040, 1200,  375, Grey,   Black,   PG9,    50, Hidden},
    {"Command44",   Button,  Window,    "STATUS",           6480, 5640,  975,  255, Cyan,   Black,   G825b,  54, None},
    {"Command46",   Button,  Window,    "L-TIME",           7440, 5640,  975,  255, Cyan,   Black,   G825b,  56, None},
    {"Command54",   Button,  Window,    "TEMP",             8400, 5640,  975,  252, Cyan,   Black,   G825b,  64, None},
    {"Command45",   Button,  Window,    "MODE",             6480, 5880,  975,  255, Cyan,   Black,   G825b,  55, None},
    {"Command47",   Button,  Window,    "SETTING",          7440, 5880,  975,  255, Cyan,   Black,   G825b,  57, None},
    {"Command55",   Button,  Window,    "L-MODE",           8400, 5880,  975,  255, Cyan,   Black,   G9b,   100, None},

    // Source selection.
    {"Frame14",     Frame,   Window,    NoCaption,           120, 6720, 5295, 1080, Grey,   Black,   Win,    76, None},
    {"Label15",     Label,   "Frame14", "PC1",               120,  240,  735,  255, Grey,   Black,   G9b,    81, None},
    {"Command64",   Button,  "Frame14", "RGB",               960,  240,  975,  255, Cyan,   Black,   G9,     77, None},
    {"Command52",   Button,  "Frame14", "Scart",            1920,  240, 1095,  255, Cyan,   Black,   G9,     98, None},
    {"Command53",   Button,  "Frame14", "Component",        3000,  240, 1215,  255, Cyan,   Black,   G9,     99, None},
    {"Command58",   Button,  "Frame14", "HDMI",             4200,  240,  975,  255, Cyan,   Black,   G9,    102, None},
    {"Label16",     Label,   "Frame14", "PC2",               120,  480,  735,  255, Grey,   Black,   G9b,    82, None},
    {"Command72",   Button,  "Frame14", "RGB",               960,  480,  975,  255, Cyan,   Black,   G9,     79, None},
    {"Label24",     Label,   "Frame14", "Video",             120,  720,  855,  255, Grey,   Black,   G9b,    83, None},
    {"Command82",   Button,  "Frame14", "Video",             960,  720,  975,  255, Cyan,   Black,   G9,     80, None},
    {"Command69",   Button,  "Frame14", "S-Video",          1920,  720, 1095,  255, Cyan,   Black,   G9,     78, None},
    {"Command36",   Button,  Window,    "C02",              5520, 6840,  615,  255, Pink,   Black,   G9b,    92, None},

    // Free-command line.
    {"Frame15",     Frame,   Window,    NoCaption,           120, 8040, 7215,  570, Grey,   Black,   Win,    84, None},
    {"Label26",     Label,   "Frame15", "CMD",               120,  240,  495,  255, Grey,   Black,   G975,   88, None},
    {"Text1",       TextBox, "Frame15", NoCaption,           600,  165, 5055,  345, NoFill, Black,   G975b,  85, None},
    {"Command95",   Button,  "Frame15", "SEND",             5760,  240,  735,  255, Green,  Black,   G9b,    86, None},
    {"Command96",   Button,  "Frame15", "CLS",              6480,  240,  615,  255, Pink,   Black,   G9b,    87, None},
};

// The plus-shaped outline around the cursor buttons.
constexpr Line Lines[] = {
    // name      x1    y1    x2    y2
    {"Line1",  1080, 2400, 1080, 2880},
    {"Line2",  2160, 2400, 2160, 2880},
    {"Line3",  3120, 2880, 3120, 3480},
    {"Line4",  2160, 3480, 2160, 3960},
    {"Line5",  1080, 3480, 1080, 3960},
    {"Line6",   120, 2880,  120, 3480},
    {"Line7",  1080, 2400, 2160, 2400},
    {"Line8",   120, 2880, 1080, 2880},
    {"Line9",  2160, 2880, 3120, 2880},
    {"Line10",  120, 3480, 1080, 3480},
    {"Line11", 1080, 3960, 2160, 3960},
    {"Line12", 2160, 3480, 3120, 3480},
};

constexpr Timer Timers[] = {
    // name     interval (ms) runs
    {"Timer1",  200,  true},
    {"Timer2",  500,  true},
    {"Timer3", 5000,  true},
    {"Timer4", 1000,  true},
    {"Timer5", 2000,  false},
};
// clang-format on

static_assert(std::size(Controls) == 104);
static_assert(std::size(Lines) == 12);
static_assert(std::size(Timers) == 5);

} // namespace

std::span<const Control> controls()
{
    return Controls;
}

std::span<const Line> lines()
{
    return Lines;
}

std::span<const Timer> timers()
{
    return Timers;
}

const Control* find(std::string_view name)
{
    for (const Control& control : Controls) {
        if (control.name == name) {
            return &control;
        }
    }
    return nullptr;
}

Rect absoluteRect(const Control& control)
{
    Rect rect{control.left, control.top, control.width, control.height};
    // Containers nest at most a few deep; the bound only guards against a cycle in the table.
    const Control* container = find(control.container);
    for (std::size_t depth = 0; container != nullptr && depth < std::size(Controls); ++depth) {
        rect.left += container->left;
        rect.top += container->top;
        container = find(container->container);
    }
    return rect;
}

} // namespace qx200::layout
