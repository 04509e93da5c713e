#include "record/ObservedPort.h"

#include <utility>

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
    // A network device is opened once it is reached; until then its failures are the
    // opening's.
    inner_.OnFault = [this](const QString& text) {
        tell(connecting_ ? onOpenFailed : onLost, text);
        tell(OnFault, text);
    };
    inner_.OnRecover = [this] {
        if (std::exchange(connecting_, false))
            tell(onOpened);
        else
            tell(onBack);
        tell(OnRecover);
    };
    inner_.OnNote = [this](const QString& text) { tell(OnNote, text); };
}

ObservedPort::~ObservedPort()
{
    inner_.OnComm = nullptr;
    inner_.OnFault = nullptr;
    inner_.OnRecover = nullptr;
    inner_.OnNote = nullptr;
}

void ObservedPort::Settings(const QByteArray& settings)
{
    inner_.Settings(settings);
    tell(onSettings, settings);
}

void ObservedPort::PortOpen(bool open)
{
    if (!open) {
        connecting_ = false;
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
    connecting_ = !inner_.DeviceReady();
    if (!connecting_)
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
