#include "console/Form1.h"
#include "console/panel/Appearance.h"
#include "console/panel/Layout.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace qx200 {

namespace {

// One byte a character: Latin-1 as it is, any other character (one code point, even when it
// takes two UTF-16 units) as "?".
QByteArray lineBytes(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const char32_t codePoint : text.toUcs4())
        bytes.append(codePoint < 256 ? char(codePoint) : '?');
    return bytes;
}

} // namespace

// "SEND": the typed text goes out as it is; characters outside Latin-1 become "?".
void Form1::Command95_Click()
{
    Timer2->setInterval(buttons::FreeCommandIntervals.timer2);
    Timer4->setInterval(buttons::FreeCommandIntervals.timer4);
    S.FreeCmd = lineBytes(Text1->text());
    S.CmdLine = S.CmdPrefix + S.FreeCmd + '\r';
    Hyouji(S.CmdLine, 1);
}

// "CLS"
void Form1::Command96_Click()
{
    Text1->clear();
}

// The data toggle: between the normal panel and the data view; "CLOSE" of the service panels.
void Form1::Command34_Click()
{
    enableTimer(Timer3, false);
    S.ServiceLevel = 0;
    if (outerHeight() < 6000) {
        setOuterHeight(layout::DataView);
        Command34->setText(HideDataCaption);
    } else {
        setOuterHeight(layout::NormalPanel);
        Command34->setText(ShowDataCaption);
    }
    enableTimer(Timer3, true);
}

// "END": close the port, unload, end the program. A port that is already closed, or that fails
// to close, does not keep the console from ending.
void Form1::Command16_Click()
{
    try {
        if (comm_.PortOpen())
            comm_.PortOpen(false);
    } catch (const PortError& error) {
        qCDebug(logPanel) << "END: closing the port failed:" << error.text();
    }
    for (QTimer* timer : {Timer1, Timer2, Timer3, Timer4, Timer5})
        timer->stop();
    comm_.OnComm = nullptr;
    close();
    endProgram();
}

} // namespace qx200
