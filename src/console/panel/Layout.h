#pragma once

// The window's panel as data: every control with its container, caption, geometry (twips),
// colours, font, tab place and flags; the decorative lines; the timers; the window tiers.
// Form1 builds itself from these tables once.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qx200::layout {

inline constexpr int TwipsPerPixel = 15;

// The version comes from the build (QX200_VERSION), the one version source.
inline constexpr std::string_view WindowCaption = "MARO   QX200  CONTROL   Ver." QX200_VERSION;
inline constexpr std::uint32_t WindowBackground = 0xC0C0C0;
inline constexpr int ClientWidth = 9495;      // twips; the width never changes
inline constexpr int FullClientHeight = 8730; // twips; the whole panel
inline constexpr int TitleAndBorders = 370;   // outer height less client height, twips
inline constexpr int BorderWidth = 60;        // each side; outer width = client + 2 borders

// The four outer heights the window takes, in twips.
inline constexpr int NormalPanel = 5350;
inline constexpr int DataView = 6645;
inline constexpr int ServicePanel = 7200;
inline constexpr int FullServicePanel = 9100;

inline constexpr int OuterWidth = ClientWidth + 2 * BorderWidth;
inline constexpr int clientHeightFor(int outerHeight)
{
    return outerHeight - TitleAndBorders;
}

enum class Kind { Button, Label, Frame, Option, TextBox, Image };

// G is the fixed-pitch Gothic face, PG the proportional one.
enum class Face { G, PG };
inline constexpr std::string_view GothicFamily = "ＭＳ ゴシック";
inline constexpr std::string_view PGothicFamily = "ＭＳ Ｐゴシック";

struct Font {
    Face face = Face::G;
    double points = 9.0;
    bool bold = false;
};
// The window's own font, used by every control without a font of its own (frames).
inline constexpr Font WindowFont{Face::G, 9.0, false};

enum Flag : unsigned {
    NoFlags = 0,
    Hidden = 1u << 0,       // hidden when the window is created
    Centred = 1u << 1,      // label text centred
    RightAligned = 1u << 2, // label text right-aligned
    Border = 1u << 3,       // label with a single-line border
    Selected = 1u << 4,     // option selected when the window is created
    PressAndHold = 1u << 5, // button repeats while held
};

struct Control {
    std::string_view name;
    Kind kind;
    std::string_view container;              // empty: the window's client area
    std::string_view caption;                // UTF-8; empty: none
    int left, top, width, height;            // twips, relative to the container
    std::optional<std::uint32_t> background; // #RRGGBB; none: the platform's face colour
    std::uint32_t foreground;                // #RRGGBB text colour
    Font font;
    int tab;        // place in the focus order; -1: none (the image)
    unsigned flags; // Flag bits
};

struct Line {
    std::string_view name;
    int x1, y1, x2, y2; // twips, window client area
};
inline constexpr std::uint32_t LineColour = 0x8080FF;
inline constexpr int LinePixels = 2;

struct Timer {
    std::string_view name;
    int interval; // ms; every timer is disabled when the window is created
    bool runs;    // false: present on the panel, never started by any handler
};

inline constexpr std::string_view SerialControlName = "MSComm1";

std::span<const Control> controls(); // buttons, labels, frames, options, text box, image
std::span<const Line> lines();
std::span<const Timer> timers();

const Control* find(std::string_view name);

struct Rect {
    int left, top, width, height;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
};
// The control's rectangle in window client coordinates (containers' offsets added up).
Rect absoluteRect(const Control& control);

} // namespace qx200::layout
