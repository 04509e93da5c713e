#pragma once

// What qx200ctl prints for the service's answer, and its exit status.

#include "service/ControlProtocol.h"

#include <QJsonObject>
#include <QString>

namespace qx200 {

struct CtlOutput {
    QString out; // for stdout
    QString err; // for stderr: "qx200ctl: " and a reason, one a line
    int exitCode = 0;
};

// Human output: a table for list, "name: value" lines for status (its "age: 12s"), the reply
// for send, "hall-1: done" for each projector a change reached. With json, the answer itself.
// A failed answer exits 1, its reasons on stderr.
CtlOutput formatAnswer(const ControlRequest& request, const QJsonObject& answer, bool json);

} // namespace qx200
