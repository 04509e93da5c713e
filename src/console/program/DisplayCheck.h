#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qx200 {

// What decides whether the window has somewhere to appear: the X and Wayland display names and
// the platform asked for ("-platform NAME" on the command line, else QT_QPA_PLATFORM). Empty
// when not given.
struct DisplayRequest {
    std::string_view display;
    std::string_view waylandDisplay;
    std::string_view platform;
};

// The request as this process was started: its command line and its environment.
DisplayRequest displayRequest(int argc, char** argv);

// The one line to print when the window has no display to appear on; none when it has one or
// the platform needs none (offscreen, linuxfb, ...).
std::optional<std::string> missingDisplay(const DisplayRequest& request);

} // namespace qx200
