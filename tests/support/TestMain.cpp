#include "console/EventLoop.h"

#include <QApplication>
#include <gtest/gtest.h>

// Every test runs headless, on the offscreen platform, with one application object and the
// console's own choice of event loop.
int main(int argc, char** argv)
{
    qx200::preferFineTimers();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
