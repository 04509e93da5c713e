#include "console/Form1.h"

#include <QFrame>
#include <QTimer>

namespace qx200 {
// Composes the command line of a code and sends it.
void Form1::send(std::string_view code)
{
    S.CmdLine = S.CmdPrefix + QByteArray(code.data(), qsizetype(code.size())) + '\r';
    Hyouji(S.CmdLine, 1);
}

void Form1::oneShotClick(const buttons::OneShot& button)
{
    using buttons::Pattern;
    switch (button.pattern) {
    case Pattern::Plain:
        send(button.code);
        break;
    case Pattern::PictureWindow:
    case Pattern::SourceWindow: {
        const auto window = *buttons::intervalsBeforeSend(button.pattern);
        Timer2->setInterval(window.timer2);
        Timer4->setInterval(window.timer4);
        send(button.code);
        break;
    }
    case Pattern::MenuPacing:
        send(button.code);
        Timer1->setInterval(buttons::MenuPacingRepeat);
        S.PadMode = buttons::MenuPacingMode;
        break;
    case Pattern::OpenPanel:
        Frame8->show();
        enableTimer(Timer3, true);
        break;
    }
}

} // namespace qx200
