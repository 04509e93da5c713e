#include "record/SessionRecord.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

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

} // namespace

SessionRecord::SessionRecord(QString file, std::optional<Folder> folder)
    : file_(std::move(file)), folder_(std::move(folder)),
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
        queue_.push_back({time, Event::Unrecorded, port, device,
                          QByteArray::number(unrecordedEvents_) + " events, " +
                              QByteArray::number(unrecordedBytes_) + " bytes"});
        unrecordedEvents_ = 0;
        unrecordedBytes_ = 0;
        time += microseconds(1);
    }
    queue_.push_back({time, event, port, device, std::move(kept)});
    lastTime_ = time;
    queuedBytes_ += cost;
}

void SessionRecord::run()
{
    std::vector<Entry> entries;
    std::unique_lock lock(mutex_);
    for (bool last = false; !last;) {
        wake_.wait_for(lock, WritePeriod, [this] { return stopping_; });
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

bool SessionRecord::openFile()
{
    const QString folder = QFileInfo(file_).absolutePath();
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error) {
        fail(QStringLiteral("cannot make the folder %1: %2")
                 .arg(folder, QString::fromLocal8Bit(error.message().c_str())));
        return false;
    }
    fd_ = ::open(QFile::encodeName(file_).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                 0644);
    if (fd_ < 0) {
        fail(errnoText(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && st.st_size == 0)
        buffer_ = HeaderLine;
    return true;
}

void SessionRecord::write(const std::vector<Entry>& entries)
{
    if (fd_ < 0 && !openFile())
        return;
    for (const Entry& entry : entries) {
        const QByteArray device = entry.device.toUtf8();
        appendLine(buffer_, entry.time, comName(entry.port),
                   std::string_view(device.constData(), std::size_t(device.size())), entry.event,
                   std::string_view(entry.bytes.constData(), std::size_t(entry.bytes.size())));
        if (buffer_.size() >= WriteSlice && !flush())
            return;
    }
    if (!flush())
        return;
    if (folder_ && grownSinceBoundCheck_ >= BoundCheckGrowth) {
        boundSessionFolder(folder_->path, QFileInfo(file_).fileName(), folder_->bound);
        grownSinceBoundCheck_ = 0;
    }
}

// Whole lines in one append each time, so a line never mixes with another writer's.
bool SessionRecord::flush()
{
    for (std::size_t done = 0; done < buffer_.size();) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(errnoText(n < 0 ? errno : ENOSPC));
            return false;
        }
        done += std::size_t(n);
    }
    grownSinceBoundCheck_ += qint64(buffer_.size());
    buffer_.clear();
    return true;
}

void SessionRecord::fail(const QString& what)
{
    broken_ = true;
    buffer_.clear();
    const QString text =
        QStringLiteral("The session record %1 cannot be written: %2. Recording has stopped; the "
                       "console goes on. Free some space, or choose a writable file with "
                       "--record FILE.")
            .arg(file_, what);
    std::fprintf(stderr, "qx200-control: %s\n", text.toLocal8Bit().constData());
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
    const QString name = sessionFileName(time_point_cast<microseconds>(system_clock::now()));
    return std::make_unique<SessionRecord>(folder + QLatin1Char('/') + name,
                                           SessionRecord::Folder{folder, DefaultFolderBound});
}

} // namespace qx200::record
