#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Every test runs headless, on the offscreen platform, with one application object. Session
// records of consoles the tests start go to a folder of the run's own, never the user's.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    // The run-time files of services the tests start (control socket, console addresses) too.
    const QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    qunsetenv("RUNTIME_DIRECTORY");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
