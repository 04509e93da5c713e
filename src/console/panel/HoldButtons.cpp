#include "console/Form1.h"

#include <QLabel>
#include <QTimer>

namespace qx200 {
void Form1::holdPress(const buttons::Hold& button)
{
    if (button.arrow) {
        // The arrows take their reply window from the pacing mode and repeat at whatever
        // interval Timer1 was given last.
        if (const auto pacing = buttons::arrowPacing(S.PadMode)) {
            Timer2->setInterval(pacing->timer2);
            Timer4->setInterval(pacing->timer4);
        }
        S.RepeatSel = button.entry;
        send(button.code);
        enableTimer(Timer1, true);
        return;
    }
    S.RepeatSel = button.entry;
    send(button.code);
    Timer1->setInterval(button.timer1);
    Timer2->setInterval(button.timer2);
    Timer4->setInterval(button.timer4);
    enableTimer(Timer1, true);
}

void Form1::Timer1_Timer()
{
    if (S.RepeatSel == 0)
        return;
    if (const buttons::Hold* held = buttons::holdForEntry(S.RepeatSel)) {
        send(held->code);
        enableTimer(Timer1, true);
    }
}

void Form1::holdRelease(const buttons::Hold& button)
{
    S.RepeatSel = 0;
    enableTimer(Timer1, false);
    enableTimer(Timer2, false); // the last repeat's reply window closes without " X X X X"
    enableTimer(Timer4, true);
    Label11->clear();
    Label12->clear();
    Timer2->setInterval(buttons::RestingIntervals.timer2);
    Timer4->setInterval(buttons::RestingIntervals.timer4);
    S.RxText.clear();
    if (button.zoom) {
        Timer1->setInterval(buttons::ZoomReleaseRepeat);
        S.PadMode = buttons::ZoomReleaseMode;
    }
}

} // namespace qx200
