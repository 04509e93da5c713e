#include "console/program/DisplayCheck.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace qx200 {
namespace {

struct DisplayCase {
    const char* name;
    DisplayRequest request;
    bool refused;
};

void PrintTo(const DisplayCase& c, std::ostream* os)
{
    *os << c.name;
}

// clang-format off
const DisplayCase DisplayCases[] = {
    {"Nothing",              {"",   "",          ""},                              true},
    {"XDisplay",             {":0", "",          ""},                              false},
    {"WaylandDisplay",       {"",   "wayland-0", ""},                              false},
    {"Offscreen",            {"",   "",          "offscreen"},                     false},
    {"OffscreenWithOptions", {"",   "",          "offscreen:fontengine=freetype"}, false},
    {"Minimal",              {"",   "",          "minimal"},                       false},
    {"LinuxFramebuffer",     {"",   "",          "linuxfb:fb=/dev/fb0"},           false},
    {"Vnc",                  {"",   "",          "vnc"},                           false},
    {"XcbWithoutDisplay",    {"",   "",          "xcb"},                           true},
    {"WaylandWithoutSocket", {"",   "",          "wayland"},                       true},
    {"ListWithOffscreen",    {"",   "",          "xcb;offscreen"},                 false},
    {"ListWithoutOne",       {"",   "",          "wayland;xcb"},                   true},
    {"XcbWithDisplay",       {":1", "",          "xcb"},                           false},
};
// clang-format on

class MissingDisplay : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(MissingDisplay, RefusesOnlyWhenTheWindowHasNowhereToAppear)
{
    const auto missing = missingDisplay(GetParam().request);
    EXPECT_EQ(missing.has_value(), GetParam().refused);
    if (missing) {
        EXPECT_EQ(missing->find('\n'), std::string::npos) << "one line";
        EXPECT_NE(missing->find("set DISPLAY"), std::string::npos);
        EXPECT_NE(missing->find("xvfb-run"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, MissingDisplay, ::testing::ValuesIn(DisplayCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(DisplayRequest, ThePlatformOnTheCommandLineWins)
{
    const char* set = std::getenv("QT_QPA_PLATFORM");
    const std::string before = set ? set : "";
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    char program[] = "qx200-control";
    char option[] = "-platform";
    char offscreen[] = "offscreen";
    char* argv[] = {program, option, offscreen, nullptr};
    const std::string platform(displayRequest(3, argv).platform);
    ::setenv("QT_QPA_PLATFORM", before.c_str(), 1);
    EXPECT_EQ(platform, "offscreen");
}

} // namespace
} // namespace qx200
