#pragma once

// The session record: lines handed over by the console's thread and written to a file by a
// thread of its own, so that writing never holds up a send. The service keeps the same kind of
// record per projector, one file a day, each line with its sender.

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
    // A pipe or terminal that takes nothing for this long when the record stops loses the rest.
    static constexpr std::chrono::milliseconds StopGrace{1000};
    // The folder is looked over again each time the file has grown by this much.
    static constexpr qint64 BoundCheckGrowth = 1 << 20;

    struct Folder {
        QString path;
        qint64 bound = DefaultFolderBound;
    };
    // One file per UTC day in the folder ("2026-12-09.tsv"), each line with a sender field; the
    // folder's oldest day files give way to keep it under the bound.
    struct DailyFiles {
        QString folder;
        qint64 bound = DefaultFolderBound;
        // A service keeps one record per projector: its writers wake seldom, so that many of
        // them cost next to nothing.
        std::chrono::milliseconds writePeriod{1000};
    };
    // A daily record whose file cannot be written tries again this much later, or at once when
    // a line of a new day comes; what it could not write meanwhile is counted in the file.
    static constexpr std::chrono::seconds RetryPeriod{60};

    // Starts the writer on `file`, appending. With a folder, its oldest session files are
    // removed as needed to keep it under the bound. When the file cannot be written, the
    // reason goes to stderr and, once, to `failed` on this object's thread; the record then
    // stops and the console goes on.
    explicit SessionRecord(QString file, std::optional<Folder> folder = std::nullopt);
    explicit SessionRecord(DailyFiles daily);
    ~SessionRecord() override; // writes what is queued, then closes the file
    SessionRecord(const SessionRecord&) = delete;
    SessionRecord& operator=(const SessionRecord&) = delete;

    // The file; for a daily record, its folder. A file another console records to is left to
    // it: this record then goes to one beside it ("session-PID.tsv"), named here. A session that
    // outgrows its folder's bound goes on in a new file of the folder.
    const QString& file() const { return file_; }

    // Told once, on this object's thread, why the record stopped.
    std::function<void(const QString&)> failed;

    // Queues one event: cheap, formats nothing; the bytes are copied, `device` is shared.
    void add(Event event, std::int16_t port, const QString& device, const QByteArray& bytes = {});
    // The same for a daily record: `com` names the line ("hall-1"), `sender` who wrote the
    // bytes (empty for what nobody sent).
    void add(Event event, const QString& com, const QString& device, const QByteArray& bytes,
             const QString& sender);

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
        QString com; // empty: "COM" and the port
        QString device;
        QByteArray bytes;
        QString sender;
    };

    void push(Event event, std::int16_t port, const QString& com, const QString& device,
              const QByteArray& bytes, const QString& sender);
    bool stopping();
    void run();
    bool fileFor(const Entry& entry);
    bool openFile();
    void append(const Entry& entry);
    void write(const std::vector<Entry>& entries);
    bool flush();
    void fail(const QString& what, int error); // error: the errno value, for the advice

    QString file_; // set by the constructor, read-only after
    const std::optional<Folder> folder_;
    const bool daily_ = false;
    const std::chrono::milliseconds writePeriod_ = WritePeriod;
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
    QString path_; // the file open, or to open
    int fd_ = -1;
    std::chrono::sys_days day_{}; // a daily record's: the day of the file open
    qint64 fileSize_ = 0;
    bool broken_ = false;
    std::chrono::steady_clock::time_point retryAt_{};
    std::chrono::sys_days brokenDay_{};
    qint64 grownSinceBoundCheck_ = BoundCheckGrowth; // the folder is looked over at the start
    std::string buffer_;
    qint64 bufferedEvents_ = 0;
    qint64 bufferedBytes_ = 0;
    qint64 lostEvents_ = 0; // not written since the file failed
    qint64 lostBytes_ = 0;

    std::thread writer_;
};

// The record the options ask for, started; nothing when recording is off.
std::unique_ptr<SessionRecord> startSessionRecord(const SessionRecordOptions& options);

} // namespace qx200::record
