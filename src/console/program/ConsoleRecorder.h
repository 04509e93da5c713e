#pragma once

// Puts what happens on the console's line into a session record: every chunk sent and received,
// every port event, and every change of the status line.

#include "record/ObservedPort.h"
#include "record/SessionRecord.h"

#include <QByteArray>
#include <QString>

namespace qx200 {

class Form1;

class ConsoleRecorder {
public:
    // `port` is the service the window works on; its observers are this recorder's until it is
    // destroyed.
    ConsoleRecorder(record::SessionRecord& record, ObservedPort& port);
    ~ConsoleRecorder();
    ConsoleRecorder(const ConsoleRecorder&) = delete;
    ConsoleRecorder& operator=(const ConsoleRecorder&) = delete;

    // Records the window's status line changes and shows the record's failure on it. The window
    // must be destroyed before the recorder, so that its closing of the port is recorded too.
    void watch(Form1& window);

private:
    void add(record::Event event, const QByteArray& bytes = {});
    void resolveDevice();

    record::SessionRecord& record_;
    ObservedPort& port_;
    std::int16_t portNumber_ = 0; // the port that device_ was resolved for
    QString device_;
    QByteArray settings_;
    bool deviceAway_ = false; // between a device's loss and its return
};

} // namespace qx200
