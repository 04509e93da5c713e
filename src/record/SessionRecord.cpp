#include "record/SessionRecord.h"

#include <random>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qx200::record {
namespace {

using namespace std::chrono;

std::string comName(std::int16_t port)
{
    return "COM" + std::to_string(port);
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// What the operator can do about a record that cannot be written, by the cause.
QString recordAdvice(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return QStringLiteral("Free some space, or choose another file with --record FILE.");
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("Choose a file this account may write with --record FILE.");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("Make the folder, or choose another file with --record FILE.");
    default:
        return QStringLiteral("Choose another file with --record FILE.");
    }
}

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

QByteArray unrecordedText(qint64 events, qint64 bytes)
{
    return QByteArray::number(events) + " events, " + QByteArray::number(bytes) + " bytes";
}

// A write to a pipe whose reader has gone then fails with EPIPE, a record failure like any
// other, instead of ending the program. The signal is directed at the writing thread.
void blockBrokenPipeSignal()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Why a file of this kind takes no record, or nothing when it does: a regular file, or (as
// the one file asked for) a pipe or a character device such as a terminal or /dev/null.
const char* unfitFor(const struct stat& st, bool daily)
{
    if (S_ISREG(st.st_mode))
        return nullptr;
    if (!daily && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)))
        return nullptr;
    return daily ? "not a regular file" : "not a regular file, a pipe or a device";
}

// "session.tsv" -> "session-4711.tsv": a file of this process beside the one asked for.
QString besideOf(const QString& path)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    return info.dir().filePath(QStringLiteral("%1-%2%3")
                                   .arg(info.completeBaseName())
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(suffix));
}

} // namespace

SessionRecord::SessionRecord(QString file, std::optional<Folder> folder)
    : file_(std::move(file)), folder_(std::move(folder)),
      startWall_(time_point_cast<microseconds>(system_clock::now())),
      startSteady_(steady_clock::now())
{
    // Opened here, never waiting: file() then names the file this session really goes to.
    path_ = file_;
    if (openFile())
        file_ = path_;
    writer_ = std::thread([this] { run(); });
}

SessionRecord::SessionRecord(DailyFiles daily)
    : file_(daily.folder), folder_(Folder{daily.folder, daily.bound}), daily_(true),
      writePeriod_(daily.writePeriod),
      startWall_(time_point_cast<microseconds>(system_clock::now())),
      startSteady_(steady_clock::now())
{
    writer_ = std::thread([this] { run(); });
}

SessionRecord::~SessionRecord()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
    if (fd_ >= 0)
        ::close(fd_);
}

Time SessionRecord::now() const
{
    return startWall_ + duration_cast<microseconds>(steady_clock::now() - startSteady_);
}

void SessionRecord::add(Event event, std::int16_t port, const QString& device,
                        const QByteArray& bytes)
{
    push(event, port, {}, device, bytes, {});
}

void SessionRecord::add(Event event, const QString& com, const QString& device,
                        const QByteArray& bytes, const QString& sender)
{
    push(event, 0, com, device, bytes, sender);
}

void SessionRecord::push(Event event, std::int16_t port, const QString& com, const QString& device,
                         const QByteArray& bytes, const QString& sender)
{
    // A copy of just the bytes: what a read hands over may sit in a far larger buffer.
    QByteArray kept(bytes.constData(), bytes.size());
    // Every entry counts, so that a stuck file also bounds a stream of empty events.
    const qint64 cost = kept.size() + qint64(sizeof(Entry));
    const std::lock_guard lock(mutex_);
    // Each line a microsecond at least after the one before, so that times order the lines.
    Time time = std::max(now(), lastTime_ + microseconds(1));
    if (queuedBytes_ + cost > MaxQueuedBytes) {
        ++unrecordedEvents_;
        unrecordedBytes_ += bytes.size();
        return;
    }
    if (unrecordedEvents_ > 0) {
        queue_.push_back({time,
                          Event::Unrecorded,
                          port,
                          com,
                          device,
                          unrecordedText(unrecordedEvents_, unrecordedBytes_),
                          {}});
        unrecordedEvents_ = 0;
        unrecordedBytes_ = 0;
        time += microseconds(1);
    }
    queue_.push_back({time, event, port, com, device, std::move(kept), sender});
    lastTime_ = time;
    queuedBytes_ += cost;
}

bool SessionRecord::stopping()
{
    const std::lock_guard lock(mutex_);
    return stopping_;
}

void SessionRecord::run()
{
    blockBrokenPipeSignal();
    std::vector<Entry> entries;
    std::unique_lock lock(mutex_);
    if (daily_) {
        // Records started together would otherwise all wake at the same moments.
        std::minstd_rand random(std::random_device{}());
        const auto phase = milliseconds(random() % std::uint64_t(writePeriod_.count() + 1));
        wake_.wait_for(lock, phase, [this] { return stopping_; });
    }
    for (bool last = false; !last;) {
        wake_.wait_for(lock, writePeriod_, [this] { return stopping_; });
        last = stopping_;
        entries.swap(queue_);
        queuedBytes_ = 0;
        lock.unlock();
        if (!entries.empty() && !broken_)
            write(entries);
        entries.clear();
        lock.lock();
    }
}

// Makes sure the file for the entry is open: a daily record's file changes with the day, and
// one that failed is tried again after a while. False while there is no file to write to.
bool SessionRecord::fileFor(const Entry& entry)
{
    if (!daily_) {
        if (fd_ < 0 && !broken_)
            openFile();
        return !broken_;
    }
    const auto day = floor<days>(entry.time);
    if (broken_) {
        if (steady_clock::now() < retryAt_ && day == brokenDay_)
            return false;
        broken_ = false;
    }
    if (fd_ >= 0 && day != day_) {
        if (!flush())
            return false;
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0) {
        path_ = QDir(file_).filePath(dayFileName(entry.time));
        day_ = day;
        grownSinceBoundCheck_ = BoundCheckGrowth; // a new file: look the folder over
        if (!openFile())
            return false;
        if (lostEvents_ > 0) {
            Entry lost = entry;
            lost.event = Event::Unrecorded;
            lost.bytes = unrecordedText(lostEvents_, lostBytes_);
            lost.sender.clear();
            lostEvents_ = 0;
            lostBytes_ = 0;
            append(lost);
        }
    }
    return true;
}

bool SessionRecord::openFile()
{
    const QString folder = QFileInfo(path_).absolutePath();
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error) {
        fail(QStringLiteral("cannot make the folder %1: %2")
                 .arg(folder, QString::fromLocal8Bit(error.message().c_str())),
             error.value());
        return false;
    }
    // Never waits in open(): a FIFO without a reader is refused at once.
    fd_ = ::open(QFile::encodeName(path_).constData(),
                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        const int failure = errno;
        fail(failure == ENXIO ? QStringLiteral("it is a pipe that nobody reads")
                              : errnoText(failure),
             failure);
        return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return true;
    if (const char* unfit = unfitFor(st, daily_)) {
        ::close(fd_);
        fd_ = -1;
        fail(QString::fromLatin1(unfit), 0);
        return false;
    }
    // One session to a file: a second console asked for the same file records beside it.
    if (S_ISREG(st.st_mode) && !daily_ && ::flock(fd_, LOCK_EX | LOCK_NB) != 0 &&
        errno == EWOULDBLOCK) {
        ::close(fd_);
        fd_ = -1;
        const QString taken = std::exchange(path_, besideOf(path_));
        std::fprintf(stderr,
                     "%s: the session record %s is kept by another console; this session "
                     "is recorded in %s\n",
                     qPrintable(QCoreApplication::applicationName()), qPrintable(taken),
                     qPrintable(path_));
        return openFile();
    }
    fileSize_ = st.st_size;
    if (st.st_size == 0) {
        buffer_ = daily_ ? HeaderLineWithSender : HeaderLine;
    } else if (S_ISREG(st.st_mode)) {
        // A line cut short by a full disk ends here, so that the next one starts whole.
        char last = '\n';
        const int reader = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC);
        if (reader >= 0) {
            if (::pread(reader, &last, 1, st.st_size - 1) != 1)
                last = '\n';
            ::close(reader);
        }
        if (last != '\n')
            buffer_ = "\n";
    }
    return true;
}

void SessionRecord::append(const Entry& entry)
{
    const QByteArray device = entry.device.toUtf8();
    const std::string com = entry.com.isEmpty() ? comName(entry.port) : entry.com.toStdString();
    const QByteArray sender = entry.sender.toUtf8();
    appendLine(buffer_, entry.time, com, view(device), entry.event, view(entry.bytes),
               daily_ ? std::optional(view(sender)) : std::nullopt);
    ++bufferedEvents_;
    bufferedBytes_ += entry.bytes.size();
}

void SessionRecord::write(const std::vector<Entry>& entries)
{
    for (const Entry& entry : entries) {
        if (!fileFor(entry)) {
            if (!daily_)
                return;
            ++lostEvents_;
            lostBytes_ += entry.bytes.size();
            continue;
        }
        append(entry);
        if (buffer_.size() >= WriteSlice)
            flush();
    }
    if (fd_ < 0 || broken_ || !flush())
        return;
    if (folder_ && grownSinceBoundCheck_ >= BoundCheckGrowth) {
        boundSessionFolder(folder_->path, QFileInfo(path_).fileName(), folder_->bound,
                           daily_ ? isDayFileName : isSessionFileName);
        grownSinceBoundCheck_ = 0;
    }
    // The bound spares the current file: a session that outgrows it goes on in a new one, and
    // its older files then give way like any other.
    if (folder_ && !daily_ && fileSize_ > folder_->bound) {
        ::close(fd_);
        fd_ = -1;
        path_ = QDir(folder_->path).filePath(sessionFileName(now()));
        grownSinceBoundCheck_ = BoundCheckGrowth;
    }
}

// Whole lines in one append each time, so a line never mixes with another writer's.
bool SessionRecord::flush()
{
    for (std::size_t done = 0; done < buffer_.size();) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // A full pipe or terminal. Once the record stops, a reader that takes nothing
            // within a second loses the rest: a stop is never held up for long.
            pollfd writable{fd_, POLLOUT, 0};
            if (::poll(&writable, 1, int(StopGrace.count())) == 0 && stopping()) {
                fail(QStringLiteral("its reader took nothing more before the end"), EAGAIN);
                return false;
            }
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            fail(errnoText(error), error);
            return false;
        }
        done += std::size_t(n);
    }
    grownSinceBoundCheck_ += qint64(buffer_.size());
    fileSize_ += qint64(buffer_.size());
    buffer_.clear();
    bufferedEvents_ = 0;
    bufferedBytes_ = 0;
    return true;
}

void SessionRecord::fail(const QString& what, int error)
{
    broken_ = true;
    buffer_.clear();
    QString text;
    if (!daily_) {
        text = QStringLiteral("The session record %1 cannot be written: %2. Recording has "
                              "stopped; the console goes on. %3")
                   .arg(file_, what, recordAdvice(error));
        std::fprintf(stderr, "qx200-control: %s\n", text.toLocal8Bit().constData());
    } else {
        // What was formatted and not written counts as unrecorded; the file is opened afresh.
        lostEvents_ += bufferedEvents_;
        lostBytes_ += bufferedBytes_;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        retryAt_ = steady_clock::now() + RetryPeriod;
        brokenDay_ = day_;
        text = QStringLiteral("The record %1 cannot be written: %2. Recording is tried again "
                              "in a minute.")
                   .arg(path_, what);
        std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                     text.toLocal8Bit().constData());
    }
    bufferedEvents_ = 0;
    bufferedBytes_ = 0;
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (failed)
                failed(text);
        },
        Qt::QueuedConnection);
}

std::unique_ptr<SessionRecord> startSessionRecord(const SessionRecordOptions& options)
{
    if (!options.enabled)
        return nullptr;
    if (!options.path.isEmpty())
        return std::make_unique<SessionRecord>(options.path);
    const QString folder = defaultSessionFolder();
    if (folder.isEmpty()) {
        std::fprintf(stderr,
                     "%s: no home folder (HOME is not set and the account has none) to "
                     "keep the session record in: recording is off; --record FILE "
                     "records to FILE\n",
                     qPrintable(QCoreApplication::applicationName()));
        return nullptr;
    }
    const QString name = sessionFileName(time_point_cast<microseconds>(system_clock::now()));
    return std::make_unique<SessionRecord>(folder + QLatin1Char('/') + name,
                                           SessionRecord::Folder{folder, DefaultFolderBound});
}

} // namespace qx200::record
