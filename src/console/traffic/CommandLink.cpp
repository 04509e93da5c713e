#include "console/Form1.h"
#include "protocol/StatusDecoding.h"
#include "protocol/TraceRendering.h"

#include <QLabel>
#include <algorithm>

namespace qx200 {
namespace {

// Texts past MaxRenderedBytes can never be seen, so they are neither rendered nor decoded.
QByteArray renderVisible(const QByteArray& text)
{
    return renderTrace(QByteArrayView(text).first(std::min(text.size(), MaxRenderedBytes)));
}

} // namespace

void Form1::Hyouji(const QByteArray& text, std::uint8_t mode)
{
    if (mode == 1) {
        if (comm_.PortOpen()) // on a closed port the line is still traced and awaited
            comm_.Output(text);
        else
            qCDebug(logLink) << "port closed, line not sent:" << text;
        Label11->setText(QString::fromLatin1(renderVisible(text)));
        S.RxText.mark(); // a query's reply is what arrives after it
        enableTimer(Timer2, true);
        S.RxPending = 1;
        enableTimer(Timer4, true);
        return;
    }
    showReceived(renderVisible(text), 1);
}

// The receive side of Hyouji, for a text already rendered: the trace, then the status that the
// reply decodes to, if any. The trace shows everything collected; the status is read from what
// arrived since the last line was sent, so that a query sent right after another is decoded from
// its own reply, not from the one before it.
void Form1::showReceived(const QByteArray& trace, qsizetype replyFrom)
{
    Label12->setText(QString::fromLatin1(trace));
    if (!statusQueryOf(S.CmdLine, S.CmdPrefix))
        return; // nothing to decode: a flood after a command costs no copy
    if (const auto result = decodeStatus(S.CmdLine, S.CmdPrefix, renderingFrom(trace, replyFrom))) {
        const QString status = QString::fromLatin1(result->status);
        if (statusChanged && status != Label22->text())
            statusChanged(status);
        Label22->setText(status);
        if (result->pressureValue)
            S.PressureValue = *result->pressureValue;
    }
}

void Form1::MSComm1_OnComm()
{
    if (comm_.CommEvent() != SerialPort::ReceiveEvent)
        return;
    // Only what can still be shown is kept, so a flood without a reply window stays bounded;
    // only the new bytes are rendered, and the collection's rendering is shown as Hyouji's
    // mode 2 would show it.
    S.RxText.append(comm_.Input());
    S.RxPending = 0;
    showReceived(S.RxText.rendering(), S.RxText.markAt());
}

} // namespace qx200
