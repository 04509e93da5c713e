#pragma once

// What each command button sends, as data: the one-shot buttons with their click pattern, and
// the hold buttons with their repeat entry and the timer intervals their press sets.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qx200::buttons {

// How a one-shot click goes about its send.
enum class Pattern {
    Plain,         // send with the intervals in force
    PictureWindow, // Timer2 2000, Timer4 2500, then send
    SourceWindow,  // Timer2 5000, Timer4 5500, then send
    MenuPacing,    // send, then Timer1 200 and PadMode 1
    OpenPanel,     // show the port panel and start its auto-hide; sends nothing
};

struct OneShot {
    std::string_view control;
    std::string_view code; // empty for OpenPanel
    Pattern pattern;
};

// The reply-window and trace-clearing intervals a pattern sets before it sends, if any.
struct IndicatorIntervals {
    int timer2;
    int timer4;
};
std::optional<IndicatorIntervals> intervalsBeforeSend(Pattern pattern);

// "SEND" opens the same long reply window as a picture-mode button.
inline constexpr IndicatorIntervals FreeCommandIntervals{2000, 2500};

inline constexpr int MenuPacingRepeat = 200; // Timer1 after a menu-pacing click
inline constexpr std::uint8_t MenuPacingMode = 1;

struct Hold {
    std::string_view control;
    std::uint8_t entry; // the RepeatSel value while held
    std::string_view code;
    bool arrow;                 // arrows keep Timer1 and take Timer2/Timer4 from the pacing mode
    int timer1, timer2, timer4; // set by the press of an adjuster or SELECT (ms)
    bool zoom;                  // its release switches the arrows to the fast pacing
};

// The arrows' indicator intervals for a pacing mode; nothing: keep the intervals in force.
std::optional<IndicatorIntervals> arrowPacing(std::uint8_t padMode);

// What every release restores, and what a D.Zoom release sets on top.
inline constexpr IndicatorIntervals RestingIntervals{500, 1000};
inline constexpr int ZoomReleaseRepeat = 5;
inline constexpr std::uint8_t ZoomReleaseMode = 3;

std::span<const OneShot> oneShots();
std::span<const Hold> holds();
const Hold* holdForEntry(std::uint8_t entry);

} // namespace qx200::buttons
