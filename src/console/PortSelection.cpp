#include "Form1.h"

#include <QFrame>
#include <optional>

namespace qx200 {

void Form1::Option1_Click()
{
    selectPort(1, 2);
}
void Form1::Option2_Click()
{
    selectPort(2, 1);
}
void Form1::Option9_Click()
{
    selectSpeed("19200,N,8,1");
}
void Form1::Option10_Click()
{
    selectSpeed("9600,N,8,1");
}

// Moves an open port to another port number. A failing step does not end the handler: the
// later steps run, and the last failure is reported once at the end.
void Form1::selectPort(std::int16_t port, std::int16_t otherPort)
{
    bool WasOpen = false;
    std::optional<QString> failure;
    const auto attempt = [&failure](auto&& operation) {
        try {
            operation();
        } catch (const PortError& error) {
            failure = error.text();
        }
    };

    attempt([&] {
        if (comm_.PortOpen()) {
            comm_.PortOpen(false);
            WasOpen = true;
        }
    });
    attempt([&] { comm_.CommPort(port); });
    if (!failure && WasOpen)
        attempt([&] { comm_.PortOpen(true); });

    if (failure) {
        messageBox(*failure);
        comm_.CommPort(otherPort);
    } else {
        Frame8->hide();
    }
}

void Form1::selectSpeed(const QByteArray& settings)
{
    S.CommSettings = settings;
    comm_.Settings(S.CommSettings);
    Frame8->hide();
}

} // namespace qx200
