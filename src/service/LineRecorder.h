#pragma once

// Who did what on a projector's line: every byte written with its sender, every byte read and
// every loss of the device, in the record format, one file per projector per UTC day; and one
// log line for each command a controller sent that changes the projector's state.

#include "record/SessionRecord.h"
#include "service/Line.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <optional>

namespace qx200 {

// The folder under the service's state folder that holds the projectors' records.
QString serviceRecordsFolder();

// A projector's name as a folder name: letters, digits and "-._~" stay, every other byte of its
// UTF-8 ("/" among them) is percent-encoded, and so is a leading dot, so that no name ("..",
// "a/../../etc") leads out of the records folder or hides in it. Two names never share one.
QString recordFolderName(const QString& projector);

class LineRecorder final : public QObject {
    Q_OBJECT

public:
    // Records the line's traffic in folder/<recordFolderName>/<day>.tsv, that folder kept
    // under `bound`. The file is written by a thread of its own, off the event loop's path.
    LineRecorder(Line& line, const QString& folder, qint64 bound = record::DefaultFolderBound);

    // This projector's folder.
    const QString& folder() const { return record_.file(); }

private:
    record::SessionRecord record_;
    const QString com_;
    const QString device_;
};

// The log line for a command line (its carriage return may end it) that a controller sent:
// "hall-1: power on by 10.0.0.5 (pjlink)". Nothing for lines that change no state and for the
// poller's and the operator's lines. Control characters in the names are written as "\xHH", so
// that one command stays one line of the log.
std::optional<QString> commandLogLine(const QString& projector, QByteArrayView line,
                                      const Origin& origin);

// Writes the log line of each command the line passes to standard error (the journal under
// systemd), for as long as the line lives.
void logCommands(Line& line);

} // namespace qx200
