#pragma once

#include <QString>
#include <optional>

namespace qx200 {

// Who holds a serial device, as far as this machine tells: a classic lock file in the UUCP
// format ("LCK..ttyS0" holding a live PID) or a flock(2) on the device itself.
struct DeviceHolder {
    qint64 pid = 0;  // 0: unknown
    QString program; // from /proc, when readable
};

// The live owner named by a lock file for the device in lockDir, if any. Stale files (dead
// PID, unreadable contents) name nobody.
std::optional<DeviceHolder> lockFileHolder(const QString& devicePath, const QString& lockDir);

// The live process holding a flock(2) on the device, as /proc/locks tells it.
std::optional<DeviceHolder> flockHolder(const QString& devicePath);

// "in use by another program (PID 123, minicom)"
QString inUseText(const DeviceHolder& holder);

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
