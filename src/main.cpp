#include "Form1.h"
#include "console/DisplayCheck.h"
#include "console/QtSerialPort.h"
#include "console/QuitSignals.h"
#include "panel/Appearance.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    if (const auto missing = qx200::missingDisplay(qx200::displayRequest(argc, argv))) {
        std::fprintf(stderr, "%s\n", missing->c_str());
        return 1;
    }
    qx200::QuitSignals quitSignals; // before the application object starts any thread
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    qx200::registerFontSubstitutions();

    qx200::QtSerialPort comm;
    qx200::Form1 window(comm);
    quitSignals.listen([&] { window.dispatch([&] { window.Command16_Click(); }); });
    window.dispatch([&] { window.Form_Load(); });
    window.show();
    return quitSignals.received() ? 0 : QApplication::exec();
}
