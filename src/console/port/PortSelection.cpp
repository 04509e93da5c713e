#include "console/Form1.h"

#include <QFrame>
#include <QRadioButton>
#include <QSignalBlocker>
#include <algorithm>
#include <array>
#include <optional>
#include <utility>

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
    selectSpeed(Option9);
}
void Form1::Option10_Click()
{
    selectSpeed(Option10);
}

namespace {

// The speed options and the settings each of them stands for.
using SpeedOption = std::pair<QRadioButton*, const char*>;
std::array<SpeedOption, 2> speedOptions(const Form1& form)
{
    return {{{form.Option9, "19200,N,8,1"}, {form.Option10, "9600,N,8,1"}}};
}

} // namespace

// Opens the port on the chosen number, also when it was closed (after a failed start-up or a
// failed choice, so that a port that can be opened again is). A failing step does not end the
// handler: the later steps run, and the last failure is reported once at the end.
void Form1::selectPort(std::int16_t port, std::int16_t otherPort)
{
    std::optional<QString> failure;
    const auto attempt = [&failure](auto&& operation) {
        try {
            operation();
        } catch (const PortError& error) {
            if (failure) // only the last failure is shown
                qCDebug(logSerial) << "port choice:" << *failure;
            failure = error.text();
        }
    };

    attempt([&] {
        if (comm_.PortOpen())
            comm_.PortOpen(false);
    });
    closeFaultNotice(); // what it told of belongs to the device just left
    attempt([&] { comm_.CommPort(port); });
    if (!failure)
        attempt([&] { comm_.PortOpen(true); });

    if (failure) {
        warn(*failure);
        comm_.CommPort(otherPort);
    } else {
        Frame8->hide();
    }
}

// The settings are kept once the port has taken them. When it refuses them, the operator is
// told and the options show the speed still in force.
void Form1::selectSpeed(QRadioButton* chosen)
{
    const auto speeds = speedOptions(*this);
    const char* settings = std::ranges::find(speeds, chosen, &SpeedOption::first)->second;
    try {
        comm_.Settings(settings);
    } catch (const PortError& failure) {
        warn(failure.text());
        for (const auto& [option, inForce] : speeds) {
            if (S.CommSettings == inForce) {
                const QSignalBlocker quiet(option); // showing, not choosing
                option->setChecked(true);
            }
        }
        return;
    }
    S.CommSettings = settings;
    Frame8->hide();
}

} // namespace qx200
