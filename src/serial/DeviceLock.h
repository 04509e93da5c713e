#pragma once

#include <QString>
#include <optional>

namespace qx200 {

// Who holds a serial device, as far as this machine tells: a lock file ("LCK..ttyS0", in the
// UUCP format or Qt's) naming a live holder, or a flock(2) on the device itself.
struct DeviceHolder {
    qint64 pid = 0;  // 0: unknown
    QString program; // from /proc, when readable
};

// What a lock file says: the PID of its writer and, in Qt's format, the writer's program name.
// UUCP lock files hold the PID alone, as ten ASCII digits and a newline or as a binary int.
struct LockRecord {
    qint64 pid = 0;
    QString program; // empty: a UUCP lock file
};
// Nothing when the contents are not a lock file (empty, no PID where it belongs).
std::optional<LockRecord> parseLockFile(const QByteArray& contents);

// Why the lock file for the device in lockDir keeps the console from opening it: a live holder
// ("in use by another program (PID 123, minicom)") or a file that cannot be read as a lock file
// (the text names it, so that the operator can remove it). Empty when the device is free: no
// lock file, or a stale one (its PID gone or, for Qt's lock files, running another program).
QString lockFileRefusal(const QString& devicePath, const QString& lockDir);
// The live holder named by that lock file; nothing for no lock file, a stale or an unusable one.
std::optional<DeviceHolder> lockFileHolder(const QString& devicePath, const QString& lockDir);

// The live process holding a flock(2) on the device, as /proc/locks tells it.
std::optional<DeviceHolder> flockHolder(const QString& devicePath);

// "in use by another program (PID 123, minicom)"
QString inUseText(const DeviceHolder& holder);
// The same for the holder of that device; when the holder is the projector service and it lets
// a console attach to the device, how: "in use by another program (PID 123, qx200d): attach
// with --com1 tcp:127.0.0.1:4660".
QString inUseText(const DeviceHolder& holder, const QString& devicePath);

// An exclusive flock(2) on a device, held while the console has it open. Taken on a descriptor
// of its own, so that failing to get it never disturbs the holder.
class DeviceLock {
public:
    DeviceLock() = default;
    ~DeviceLock() { release(); }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    // Empty on success; otherwise the reason: the errno text, or "in use by another program"
    // naming the holder where /proc/locks tells it.
    QString acquire(const QString& devicePath);
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace qx200
