#pragma once

// The projector's end of a pseudo-terminal pair, as the benchmark sees the line. A reader thread
// time-stamps every byte the console sends, without depending on the console's event loop; a
// writer thread can pour bytes in at a fixed rate. The console opens the slave through a link.
// Over TCP, the end is a listening socket on 127.0.0.1 instead, as a serial server's would be,
// and only reading is measured.

#include "support/PseudoTerminal.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

class QEventLoop;

namespace qx200::bench {

using Clock = std::chrono::steady_clock;

// One read at the master: when it returned, and the bytes received up to and including it.
struct Arrival {
    Clock::time_point at;
    qint64 total;
    QByteArray bytes;
};

// A line the console sent, with the time its carriage return was read.
struct Line {
    Clock::time_point at;
    QByteArray text; // without the carriage return
};
std::vector<Line> linesOf(const std::vector<Arrival>& arrivals);

class MasterEnd {
public:
    enum class Transport { Pty, Tcp };

    explicit MasterEnd(Transport transport = Transport::Pty);
    ~MasterEnd();
    MasterEnd(const MasterEnd&) = delete;
    MasterEnd& operator=(const MasterEnd&) = delete;

    const QString& link() const { return line_.link(); }
    // The console's device text for this end: the pseudo-terminal's link, or "tcp:127.0.0.1:N".
    const QString& device() const { return device_; }
    // Whether the reader runs at real-time priority, which makes its time stamps sharper.
    bool realTimeReader() const { return realTimeReader_.load(); }

    qint64 received() const { return total_.load(); }
    // Everything read since the last call.
    std::vector<Arrival> take();

    // Runs the calling (GUI) thread's event loop until `total` bytes have been received in all,
    // or the time is up. The loop sleeps meanwhile; the reader wakes it.
    bool waitForReceived(qint64 total, std::chrono::milliseconds timeout);

    // Writes all bytes from the calling thread.
    void write(const QByteArray& bytes) const { line_.write(bytes); }

    // Writes random bytes at the rate from a thread of its own, in chunks of one period.
    void startFlood(double bytesPerSecond, std::chrono::microseconds period);
    // Stops it; the bytes written.
    qint64 stopFlood();

private:
    void read();
    // The descriptor the console's bytes arrive on; over TCP, once a connection was accepted.
    int source();
    void flood(double bytesPerSecond, std::chrono::microseconds period);

    testing::PseudoTerminal line_;
    const int master_;
    int listener_ = -1; // over TCP
    int peer_ = -1;     // over TCP, reader thread only
    QString device_;

    std::atomic<bool> stopping_{false};
    std::atomic<bool> realTimeReader_{false};
    std::atomic<qint64> total_{0};
    std::mutex mutex_;
    std::vector<Arrival> arrivals_;
    std::thread reader_;

    // Waking the GUI thread: the reader posts to waker_ once the wanted total is reached.
    QObject waker_;
    std::atomic<qint64> wakeAt_{-1};
    QEventLoop* waiting_ = nullptr; // GUI thread only
    qint64 waitingFor_ = 0;         // GUI thread only

    std::atomic<bool> flooding_{false};
    std::atomic<qint64> flooded_{0};
    std::thread floodThread_;
};

} // namespace qx200::bench
