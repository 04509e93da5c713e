#include "Form1.h"
#include "console/QtSerialPort.h"
#include "panel/Appearance.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(QX200_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("qx200-control"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    qx200::registerFontSubstitutions();

    qx200::QtSerialPort comm;
    qx200::Form1 window(comm);
    window.dispatch([&] { window.Form_Load(); });
    window.show();
    return QApplication::exec();
}
