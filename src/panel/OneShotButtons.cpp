#include "Form1.h"

#include <QFrame>
#include <QTimer>

namespace qx200 {
namespace {

QByteArray bytes(std::string_view code)
{
    return QByteArray(code.data(), qsizetype(code.size()));
}

} // namespace

// Composes the command line of a code and sends it.
void Form1::send(const QByteArray& code)
{
    S.CmdLine = S.CmdPrefix + code + '\r';
    Hyouji(S.CmdLine, 1);
}

void Form1::oneShotClick(const buttons::OneShot& button)
{
    using buttons::Pattern;
    switch (button.pattern) {
    case Pattern::Plain:
        send(bytes(button.code));
        break;
    case Pattern::PictureWindow:
    case Pattern::SourceWindow: {
        const auto window = *buttons::intervalsBeforeSend(button.pattern);
        Timer2->setInterval(window.timer2);
        Timer4->setInterval(window.timer4);
        send(bytes(button.code));
        break;
    }
    case Pattern::MenuPacing:
        send(bytes(button.code));
        Timer1->setInterval(buttons::MenuPacingRepeat);
        S.PadMode = buttons::MenuPacingMode;
        break;
    case Pattern::OpenPanel:
        Frame8->show();
        setEnabled(Timer3, true);
        break;
    }
}

} // namespace qx200
