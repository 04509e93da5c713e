#include "MasterEnd.h"
#include "support/LoopbackListener.h"

#include <QEventLoop>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <random>
#include <sched.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace qx200::bench {

std::vector<Line> linesOf(const std::vector<Arrival>& arrivals)
{
    std::vector<Line> lines;
    QByteArray partial;
    for (const Arrival& arrival : arrivals) {
        for (char byte : arrival.bytes) {
            if (byte == '\r') {
                lines.push_back({arrival.at, partial});
                partial.clear();
            } else {
                partial.append(byte);
            }
        }
    }
    return lines;
}

MasterEnd::MasterEnd(Transport transport) : master_(line_.master()), device_(line_.link())
{
    if (transport == Transport::Tcp) {
        testing::LoopbackListener listener(1, SOCK_NONBLOCK);
        listener_ = listener.release();
        device_ = QStringLiteral("tcp:127.0.0.1:%1").arg(listener.port());
    }
    reader_ = std::thread([this] { read(); });
}

MasterEnd::~MasterEnd()
{
    stopFlood();
    stopping_ = true;
    reader_.join();
    if (peer_ >= 0)
        ::close(peer_);
    if (listener_ >= 0)
        ::close(listener_);
}

int MasterEnd::source()
{
    if (listener_ < 0)
        return master_;
    if (peer_ < 0) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0)
            peer_ = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
    }
    return peer_;
}

void MasterEnd::read()
{
    // Arrivals are stamped as soon as the kernel wakes the reader, not whenever the scheduler
    // gets round to it; the thread sleeps in poll() all but a few microseconds per arrival, so
    // it takes nothing from the console. Without the privilege it runs at normal priority.
    sched_param priority{};
    priority.sched_priority = 1;
    realTimeReader_ = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &priority) == 0;

    while (!stopping_) {
        const int from = source();
        if (from < 0)
            continue;
        pollfd p{from, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = (p.revents & POLLIN) ? ::read(from, buffer, sizeof buffer) : 0;
        const Clock::time_point now = Clock::now();
        if (n <= 0) {
            if (n == 0 && from == peer_) { // the console hung up; it may connect again
                ::close(peer_);
                peer_ = -1;
            }
            // No slave open (before the console opens it, after it closes it): nothing to read.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        qint64 total = 0;
        {
            const std::lock_guard lock(mutex_);
            total = total_ += n;
            arrivals_.push_back({now, total, QByteArray(buffer, n)});
        }
        qint64 wanted = wakeAt_.load();
        if (wanted >= 0 && total >= wanted && wakeAt_.compare_exchange_strong(wanted, -1)) {
            QMetaObject::invokeMethod(
                &waker_,
                [this] {
                    if (waiting_ && received() >= waitingFor_)
                        waiting_->quit();
                },
                Qt::QueuedConnection);
        }
    }
}

std::vector<Arrival> MasterEnd::take()
{
    const std::lock_guard lock(mutex_);
    return std::exchange(arrivals_, {});
}

bool MasterEnd::waitForReceived(qint64 total, std::chrono::milliseconds timeout)
{
    if (received() >= total)
        return true;
    QEventLoop loop;
    waiting_ = &loop;
    waitingFor_ = total;
    wakeAt_ = total;
    if (received() < total) { // else the reader crossed it already and may not post
        QTimer::singleShot(timeout, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    wakeAt_ = -1;
    waiting_ = nullptr;
    return received() >= total;
}

void MasterEnd::startFlood(double bytesPerSecond, std::chrono::microseconds period)
{
    stopFlood();
    flooded_ = 0;
    flooding_ = true;
    floodThread_ = std::thread([=, this] { flood(bytesPerSecond, period); });
}

qint64 MasterEnd::stopFlood()
{
    flooding_ = false;
    if (floodThread_.joinable())
        floodThread_.join();
    return flooded_.load();
}

void MasterEnd::flood(double bytesPerSecond, std::chrono::microseconds period)
{
    std::mt19937 random(20240601);
    QByteArray noise(1 << 20, Qt::Uninitialized);
    for (char& byte : noise)
        byte = char(random() & 0xFF);

    const qint64 chunk = qint64(bytesPerSecond * std::chrono::duration<double>(period).count());
    const Clock::time_point start = Clock::now();
    qint64 written = 0;
    qint64 dropped = 0;
    for (Clock::time_point due = start + period; flooding_; due += period) {
        std::this_thread::sleep_until(due);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        qint64 owed = qint64(elapsed * bytesPerSecond) - written - dropped;
        // A console that falls behind blocks the writer (the line's buffer is full); what could
        // not be written is dropped rather than made up for later in a burst.
        if (owed > 2 * chunk) {
            dropped += owed - chunk;
            owed = chunk;
        }
        while (owed > 0 && flooding_) {
            const qsizetype offset = qsizetype(written % noise.size());
            const size_t size = size_t(std::min<qint64>(owed, noise.size() - offset));
            const ssize_t n = ::write(master_, noise.constData() + offset, size);
            if (n > 0) {
                written += n;
                owed -= n;
                flooded_ = written;
            } else if (errno == EAGAIN || errno == EINTR) {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 1);
                if (Clock::now() >= due + period)
                    break;
            } else {
                return;
            }
        }
    }
}

} // namespace qx200::bench
