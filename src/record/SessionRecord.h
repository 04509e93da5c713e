#pragma once

// The session record: lines handed over by the console's thread and written to a file by a
// thread of its own, so that writing never holds up a send.

#include "record/RecordFormat.h"
#include "record/SessionFolder.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace qx200::record {

// What the command line asks of the record.
struct SessionRecordOptions {
    bool enabled = true;
    QString path; // empty: a new file in the sessions folder, which is kept under its bound
};

class SessionRecord final : public QObject {
    Q_OBJECT

public:
    // Events beyond this much queued memory (a flood faster than the disk, a file that does not
    // take more) are counted, not kept.
    static constexpr qint64 MaxQueuedBytes = 2 << 20;
    // Formatted lines go to the file in pieces of about this size, which bounds the memory
    // that formatting a long queue takes.
    static constexpr std::size_t WriteSlice = 64 << 10;
    // Queued lines reach the file at most this much later.
    static constexpr std::chrono::milliseconds WritePeriod{100};
    // The folder is looked over again each time the file has grown by this much.
    static constexpr qint64 BoundCheckGrowth = 1 << 20;

    struct Folder {
        QString path;
        qint64 bound = DefaultFolderBound;
    };

    // Starts the writer on `file`, appending. With a folder, its oldest session files are
    // removed as needed to keep it under the bound. When the file cannot be written, the
    // reason goes to stderr and, once, to `failed` on this object's thread; the record then
    // stops and the console goes on.
    explicit SessionRecord(QString file, std::optional<Folder> folder = std::nullopt);
    ~SessionRecord() override; // writes what is queued, then closes the file
    SessionRecord(const SessionRecord&) = delete;
    SessionRecord& operator=(const SessionRecord&) = delete;

    const QString& file() const { return file_; }

    // Told once, on this object's thread, why the record stopped.
    std::function<void(const QString&)> failed;

    // Queues one event: cheap, formats nothing; the bytes are copied, `device` is shared.
    void add(Event event, std::int16_t port, const QString& device, const QByteArray& bytes = {});

    // The record's clock: the start's UTC time carried forward by a steady clock, so that the
    // times in one record never go back when the system clock is set. The lines' own times also
    // step forward by a microsecond at least from one line to the next.
    Time now() const;
    Time start() const { return startWall_; }

private:
    struct Entry {
        Time time;
        Event event;
        std::int16_t port;
        QString device;
        QByteArray bytes;
    };

    void run();
    bool openFile();
    void write(const std::vector<Entry>& entries);
    bool flush();
    void fail(const QString& what);

    const QString file_;
    const std::optional<Folder> folder_;
    const Time startWall_;
    const std::chrono::steady_clock::time_point startSteady_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry> queue_;
    qint64 queuedBytes_ = 0;
    Time lastTime_{};
    qint64 unrecordedEvents_ = 0;
    qint64 unrecordedBytes_ = 0;
    bool stopping_ = false;

    // The writer thread's own.
    int fd_ = -1;
    bool broken_ = false;
    qint64 grownSinceBoundCheck_ = BoundCheckGrowth; // the folder is looked over at the start
    std::string buffer_;

    std::thread writer_;
};

// The record the options ask for, started; nothing when recording is off.
std::unique_ptr<SessionRecord> startSessionRecord(const SessionRecordOptions& options);

} // namespace qx200::record
