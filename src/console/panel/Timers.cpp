#include "console/Form1.h"

#include <QFrame>
#include <QLabel>
#include <QTimer>

namespace qx200 {

// End of the reply window.
void Form1::Timer2_Timer()
{
    if (S.RxPending == 1)
        Label12->setText(QStringLiteral(" X X X X"));
    enableTimer(Timer2, false);
    S.RxText.clear();
    S.RxPending = 0;
}

// Port panel auto-hide.
void Form1::Timer3_Timer()
{
    Frame8->hide();
    enableTimer(Timer3, false);
}

// Trace clearing.
void Form1::Timer4_Timer()
{
    Label11->clear();
    Label12->clear();
    Label22->clear();
    enableTimer(Timer4, false);
}

} // namespace qx200
