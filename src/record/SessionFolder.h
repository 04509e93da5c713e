#pragma once

// Where session records go by default, what they are called, and which old ones give way to
// keep the folder under its bound.

#include "record/RecordFormat.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace qx200::record {

inline constexpr qint64 DefaultFolderBound = 50LL << 20;

// "$XDG_STATE_HOME/qx200-control/sessions", or "~/.local/state/..." when the variable is unset,
// empty or not an absolute path (which the base-directory rules say to ignore). Empty when
// there is no home either: the record then has nowhere to go.
QString sessionFolder(const QString& xdgStateHome, const QString& home);
// The folder for this process's environment; empty when there is none.
QString defaultSessionFolder();

// "2026-12-08T09-14-03.123456Z.tsv": the start time, sortable by name, no colons.
QString sessionFileName(Time start);
bool isSessionFileName(const QString& name);

// "2026-12-09.tsv": a UTC day's file of a record kept one file per day.
QString dayFileName(Time time);
bool isDayFileName(const QString& name);

struct SessionFile {
    QString name;
    qint64 size = 0;
};

// The files to remove, oldest first, so that the rest (the current one included) fit within
// `bound` bytes. The current session's file is never among them, even when it alone is larger.
QStringList sessionsToRemove(std::vector<SessionFile> files, const QString& current, qint64 bound);

// Removes the folder's oldest record files as sessionsToRemove says; the files whose name
// isRecord refuses are left alone.
void boundSessionFolder(const QString& folder, const QString& current, qint64 bound,
                        bool (*isRecord)(const QString&) = isSessionFileName);

} // namespace qx200::record
