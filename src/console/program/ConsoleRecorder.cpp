#include "console/program/ConsoleRecorder.h"

#include "console/Form1.h"

#include <QPointer>

namespace qx200 {

using record::Event;

ConsoleRecorder::ConsoleRecorder(record::SessionRecord& record, ObservedPort& port)
    : record_(record), port_(port)
{
    resolveDevice();
    // While the device is away or not reached yet the service drops what the console writes.
    port_.onOutput = [this](const QByteArray& bytes) {
        add(deviceAway_ || !port_.DeviceReady() ? Event::Unsent : Event::Sent, bytes);
    };
    port_.onInput = [this](const QByteArray& bytes) {
        if (!bytes.isEmpty())
            add(Event::Received, bytes);
    };
    port_.onSettings = [this](const QByteArray& settings) {
        if (settings != settings_)
            add(Event::Speed, settings);
        settings_ = settings;
    };
    // A device is looked up again at each opening, so its name is too.
    port_.onOpened = [this] {
        deviceAway_ = false;
        resolveDevice();
        add(Event::Opened, settings_);
    };
    port_.onOpenFailed = [this](const QString& text) {
        resolveDevice();
        add(Event::OpenFailed, text.toUtf8());
    };
    port_.onClosed = [this] {
        deviceAway_ = false;
        add(Event::Closed);
    };
    port_.onLost = [this](const QString& text) {
        deviceAway_ = true;
        add(Event::Lost, text.toUtf8());
    };
    port_.onBack = [this] {
        deviceAway_ = false;
        add(Event::Back);
    };
}

ConsoleRecorder::~ConsoleRecorder()
{
    // A port still open goes with its service, after the recorder.
    if (port_.PortOpen())
        add(Event::Closed);
    port_.onOutput = nullptr;
    port_.onInput = nullptr;
    port_.onSettings = nullptr;
    port_.onOpened = nullptr;
    port_.onOpenFailed = nullptr;
    port_.onClosed = nullptr;
    port_.onLost = nullptr;
    port_.onBack = nullptr;
    record_.failed = nullptr;
}

void ConsoleRecorder::watch(Form1& window)
{
    window.statusChanged = [this](const QString& status) { add(Event::Status, status.toLatin1()); };
    record_.failed = [notified = QPointer<Form1>(&window)](const QString& text) {
        if (notified)
            notified->notice().tell(ConsoleNotice::Topic::Record, text);
    };
}

void ConsoleRecorder::add(Event event, const QByteArray& bytes)
{
    if (port_.CommPort() != portNumber_)
        resolveDevice();
    record_.add(event, portNumber_, device_, bytes);
}

void ConsoleRecorder::resolveDevice()
{
    portNumber_ = port_.CommPort();
    device_ = port_.Device();
}

} // namespace qx200
