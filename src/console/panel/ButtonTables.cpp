#include "console/panel/ButtonTables.h"

#include <algorithm>
#include <array>

namespace qx200::buttons {
namespace {

using enum Pattern;

// clang-format off
constexpr std::array<OneShot, 46> OneShotTable{{
    // Power, input, menu
    {"Command17", "C00", Plain},         {"Command18", "C01", Plain},
    {"Command27", "C05", Plain},         {"Command28", "C06", Plain},
    {"Command29", "C07", Plain},         {"Command56", "C04", Plain},
    {"Command23", "C1C", MenuPacing},    {"Command24", "C1D", Plain},
    // Sound mute, no show, freeze, screen size
    {"Command19", "C0B", Plain},         {"Command20", "C0C", Plain},
    {"Command21", "C0D", Plain},         {"Command22", "C0E", Plain},
    {"Command25", "C43", Plain},         {"Command26", "C44", Plain},
    {"Command31", "C0F", Plain},         {"Command32", "C10", Plain},
    // Right-hand column
    {"Command13", "C89", MenuPacing},    {"Command30", "C27", Plain},
    {"Command14", "C8A", Plain},         {"Command3",  "C1E", Plain},
    // Picture modes
    {"Command4",  "C11", PictureWindow}, {"Command10", "C12", PictureWindow},
    {"Command11", "C13", PictureWindow}, {"Command39", "C14", PictureWindow},
    {"Command40", "C15", PictureWindow}, {"Command41", "C16", PictureWindow},
    {"Command42", "C17", PictureWindow}, {"Command12", "C18", PictureWindow},
    {"Command37", "C19", PictureWindow},
    // Port panel, fan mode
    {"Command33", "",    OpenPanel},
    {"Command38", "CF FANMODE L1", Plain}, {"Command43", "CF FANMODE L2", Plain},
    // Status queries
    {"Command44", "CR0", Plain},         {"Command45", "CR1", Plain},
    {"Command46", "CR3", Plain},         {"Command47", "CR4", Plain},
    {"Command54", "CR6", Plain},         {"Command55", "CR7", Plain},
    // Source selection
    {"Command64", "C50", SourceWindow},  {"Command52", "C51", SourceWindow},
    {"Command53", "C54", SourceWindow},  {"Command58", "CF INPUT HDMI HDMI", SourceWindow},
    {"Command72", "CF INPUT COMPUTER2 ANALOG", SourceWindow},
    {"Command82", "CF INPUT VIDEO VIDEO", SourceWindow},
    {"Command69", "CF INPUT S-VIDEO S-VIDEO", SourceWindow},
    {"Command36", "C02", Plain},
}};

constexpr std::array<Hold, 13> HoldTable{{
    // control     entry code   arrow  T1   T2   T4   zoom
    {"Command1",   1,  "C09", false, 250, 200, 245, false}, // VOL +
    {"Command2",   2,  "C0A", false, 250, 200, 245, false}, // VOL -
    {"Command15",  7,  "C20", false,  50,  25,  25, false}, // Brightness +
    {"Command35",  8,  "C21", false,  50,  25,  25, false}, // Brightness -
    {"Command48", 17,  "C30", false, 250, 200, 245, true},  // D.Zoom +
    {"Command49", 18,  "C31", false, 250, 200, 245, true},  // D.Zoom -
    {"Command50", 19,  "C8E", false, 250, 200, 245, false}, // Keystone +
    {"Command51", 20,  "C8F", false, 250, 200, 245, false}, // Keystone -
    {"Command6",  13,  "C3F", false, 500, 200, 245, false}, // SELECT
    {"Command5",   3,  "C3C", true,    0,   0,   0, false}, // up
    {"Command7",   4,  "C3D", true,    0,   0,   0, false}, // down
    {"Command9",   5,  "C3B", true,    0,   0,   0, false}, // left
    {"Command8",   6,  "C3A", true,    0,   0,   0, false}, // right
}};
// clang-format on

} // namespace

std::optional<IndicatorIntervals> intervalsBeforeSend(Pattern pattern)
{
    switch (pattern) {
    case PictureWindow:
        return IndicatorIntervals{2000, 2500};
    case SourceWindow:
        return IndicatorIntervals{5000, 5500};
    default:
        return std::nullopt;
    }
}

std::optional<IndicatorIntervals> arrowPacing(std::uint8_t padMode)
{
    switch (padMode) {
    case MenuPacingMode:
        return IndicatorIntervals{150, 190};
    case ZoomReleaseMode:
        return IndicatorIntervals{5, 5};
    default:
        return std::nullopt;
    }
}

std::span<const OneShot> oneShots()
{
    return OneShotTable;
}
std::span<const Hold> holds()
{
    return HoldTable;
}

const Hold* holdForEntry(std::uint8_t entry)
{
    const auto it = std::ranges::find(HoldTable, entry, &Hold::entry);
    return it == HoldTable.end() ? nullptr : &*it;
}

} // namespace qx200::buttons
