// The console program, started as an operator starts it, ended once its window has been painted
// and has rested. Arguments and environment are the console's own.

#include "Probe.h"
#include "console/program/ConsoleMain.h"

#include <memory>
#include <string_view>

int main(int argc, char** argv)
{
    namespace probe = qx200::bench::probe;
    probe::stamp("entered");
    std::unique_ptr<probe::FirstPaint> watch;
    return qx200::consoleMain(argc, argv, [&watch](const char* phase) {
        probe::stamp(phase);
        if (std::string_view(phase) == "loaded") // the window is shown next
            watch = std::make_unique<probe::FirstPaint>("Form1");
    });
}
