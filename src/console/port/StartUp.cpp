#include "console/Form1.h"
#include "console/panel/Layout.h"

#include <QRadioButton>

namespace qx200 {

void Form1::Form_Load()
{
    S.CommSettings = "19200,N,8,1";
    S.CmdPrefix.clear();
    // Centred on the full-height window as created; the shortened window then sits above the
    // middle of the screen.
    const QSize screen = screenSizeTwips();
    left_ = (float(screen.width()) - float(layout::OuterWidth)) / 2;
    top_ = (float(screen.height()) - outerHeight_) / 2;
    move(qRound(left_ / layout::TwipsPerPixel), qRound(top_ / layout::TwipsPerPixel));
    setOuterHeight(layout::NormalPanel);
    S.RepeatSel = 0;
    S.RxPending = 0;
    S.RxText.clear();
    try {
        comm_.CommPort(1);
        comm_.Settings(S.CommSettings);
        comm_.PortOpen(true);
    } catch (const PortError& failure) {
        // The "COM1" selection below tries once more and tells the operator if that fails too;
        // the window opens either way.
        qCDebug(logSerial) << "start-up:" << failure.text();
    }
    Option1->setChecked(true); // raises Option1_Click, which (re)opens the port
}

} // namespace qx200
