#pragma once

#include "serial/DeviceAddress.h"
#include "serial/DeviceLink.h"
#include "serial/LineSettings.h"
#include "serial/OutputQueue.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

namespace qx200 {

// A serial line to one device: a local tty, or a serial server over raw TCP or Telnet with the
// COM-PORT option. It knows no port numbers and reads no environment: its owner names the
// device and the settings. Texts carry the reason only; the owner puts its own name in front.
//
// Once open, the line stays open until it is closed, even when the device goes away underneath
// (an adapter pulled, a server stopped, a connection reset): the device is then closed at once,
// lost() is emitted once, writes are skipped, and the same device is reached again with the same
// settings as soon as it is back (every 300 ms for a local tty, with a backoff up to 5 s for a
// server), then back(). Opening a network device only starts connecting; a first connection
// that fails is told and retried the same way. A new connection counts once it has lasted half
// a second: a server that cannot open its device accepts, says why, and hangs up, and that is
// one failure, told with what the server said, not a device coming and going.
//
// Lines go out through a bounded queue of whole lines. A device that stops reading is not a
// lost one: lines that do not fit are dropped whole and counted, dropped() says how many, and
// back() follows once the device has taken the rest.
//
// Every signal is emitted from the event loop after the call or notification at hand has
// returned, so a listener may open a message box or close the line.
class SerialLine final : public QObject {
    Q_OBJECT

public:
    static constexpr int ReconnectMs = 300;
    static constexpr int MaxBackoffMs = 5000;
    // How long a new network connection must last before the device counts as back.
    static constexpr int SettleMs = 500;

    explicit SerialLine(QObject* parent = nullptr);
    ~SerialLine() override;

    // Opens the device. A local tty is reached at once: on failure the line stays closed and the
    // reason is returned. A network device starts connecting: back() once it is up, lost() if
    // the first connection fails. Empty when the line is open.
    QString open(const DeviceAddress& address, const LineSettings& settings);
    void close();
    // Takes effect at once on an open line; the reason when the device refused them (the line
    // keeps its old settings then), empty otherwise.
    QString apply(const LineSettings& settings);

    bool isOpen() const { return open_; }
    // True while the open line has a device that takes what is written.
    bool ready() const { return open_ && up_; }
    const LineSettings& settings() const { return settings_; }

    // Queues the bytes for the device; skipped while it is away, as on a cut cable.
    void write(const QByteArray& bytes);
    // Every received byte waiting, in arrival order; each is handed over once.
    QByteArray readAll();
    // Bytes written but not yet taken by the device.
    qsizetype pendingOutput() const { return queue_.bytes(); }

    // Where lock files of other programs are looked for.
    QStringList lockDirectories{QStringLiteral("/var/lock"), QStringLiteral("/run/lock")};

signals:
    void received();
    void lost(const QString& reason);
    // Lines the device did not take, counted since the device last took everything.
    void dropped(qint64 lines);
    // The device is usable again after lost() or dropped().
    void back();
    // A network device was reached for the first time since open(), with no loss told before
    // (after one, back() says it).
    void connected();
    // Something about the device worth telling that is no failure (a serial server that does not
    // set the speed).
    void told(const QString& text);

private:
    // What was last told and not yet told to be over.
    enum class Notice { None, NotReading, Lost };

    void arrived();
    void settled();
    void linkUp();
    void linkFailed(const QString& reason);
    void retry();
    void scheduleRetry();
    void drain();
    void lineDropped();
    void showDropped();
    void endNotice();

    std::unique_ptr<DeviceLink> link_;
    OutputQueue queue_;
    QTimer retry_;
    QTimer settle_;
    int backoffMs_ = ReconnectMs;
    LineSettings settings_;
    bool open_ = false;
    bool up_ = false;
    bool reached_ = false; // the network device was reached since open()
    Notice notice_ = Notice::None;
    bool droppedToTell_ = false;
    bool held_ = false; // bytes arrived while a connection was on trial
};

} // namespace qx200
