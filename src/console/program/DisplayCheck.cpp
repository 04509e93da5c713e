#include "console/program/DisplayCheck.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace qx200 {

namespace {

// Platform plugins that draw without a window system.
constexpr std::array<std::string_view, 7> DisplayFreePlatforms = {
    "offscreen", "minimal", "minimalegl", "linuxfb", "eglfs", "vnc", "vkkhrdisplay"};

std::string_view environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// "offscreen:fontengine=freetype" names the plugin "offscreen".
std::string_view pluginName(std::string_view platform)
{
    return platform.substr(0, platform.find(':'));
}

// QT_QPA_PLATFORM may list plugins to try in turn: "wayland;xcb".
bool anyDisplayFree(std::string_view platforms)
{
    for (;;) {
        const std::size_t end = platforms.find(';');
        if (std::ranges::find(DisplayFreePlatforms, pluginName(platforms.substr(0, end))) !=
            DisplayFreePlatforms.end())
            return true;
        if (end == std::string_view::npos)
            return false;
        platforms.remove_prefix(end + 1);
    }
}

} // namespace

DisplayRequest displayRequest(int argc, char** argv)
{
    DisplayRequest request{environment("DISPLAY"), environment("WAYLAND_DISPLAY"),
                           environment("QT_QPA_PLATFORM")};
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-platform" || arg == "--platform")
            request.platform = argv[i + 1];
    }
    return request;
}

std::optional<std::string> missingDisplay(const DisplayRequest& request)
{
    if (!request.display.empty() || !request.waylandDisplay.empty() ||
        anyDisplayFree(request.platform))
        return std::nullopt;
    return "qx200-control: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY "
           "is set); set DISPLAY, or run it under xvfb-run";
}

} // namespace qx200
