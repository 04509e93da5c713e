// An empty Qt window, started and ended like the console probe: what any Qt program of this
// kind costs on this machine, the measure the console's start-up is compared with.

#include "Probe.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    namespace probe = qx200::bench::probe;
    probe::stamp("entered");
    QApplication app(argc, argv);
    probe::stamp("application");
    QWidget window;
    window.setObjectName(QStringLiteral("window"));
    probe::FirstPaint watch("window");
    window.show();
    probe::stamp("shown");
    return QApplication::exec();
}
