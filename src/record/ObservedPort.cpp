#include "record/ObservedPort.h"

namespace qx200 {
namespace {

template <class Observer, class... Args> void tell(const Observer& observer, const Args&... args)
{
    if (observer)
        observer(args...);
}

} // namespace

ObservedPort::ObservedPort(SerialPort& inner) : inner_(inner)
{
    inner_.OnComm = [this] { tell(OnComm); };
    inner_.OnFault = [this](const QString& text) {
        tell(onLost, text);
        tell(OnFault, text);
    };
    inner_.OnRecover = [this] {
        tell(onBack);
        tell(OnRecover);
    };
}

ObservedPort::~ObservedPort()
{
    inner_.OnComm = nullptr;
    inner_.OnFault = nullptr;
    inner_.OnRecover = nullptr;
}

void ObservedPort::Settings(const QByteArray& settings)
{
    inner_.Settings(settings);
    tell(onSettings, settings);
}

void ObservedPort::PortOpen(bool open)
{
    if (!open) {
        const bool wasOpen = inner_.PortOpen();
        inner_.PortOpen(false);
        if (wasOpen)
            tell(onClosed);
        return;
    }
    try {
        inner_.PortOpen(true);
    } catch (const PortError& failure) {
        tell(onOpenFailed, failure.text());
        throw;
    }
    tell(onOpened);
}

void ObservedPort::Output(const QByteArray& bytes)
{
    inner_.Output(bytes);
    tell(onOutput, bytes);
}

QByteArray ObservedPort::Input()
{
    QByteArray bytes = inner_.Input();
    tell(onInput, bytes);
    return bytes;
}

} // namespace qx200
