#pragma once

#include <QString>

// One adapter, one owner: a device is taken under its real name, whatever link names it, and
// the usual serial-port locks of other programs are respected.
namespace portlock {

// The device a configured name stands for, symlinks followed (/dev/serial/by-id/..., the
// station's own port links); a name that leads nowhere stays as it is.
QString realDevice(const QString &name);

// The lock file QSerialPort keeps while it has a device open: LCK.. and the name below /dev
// with '/' as '_' (LCK..ttyUSB0, LCK..pts_3) in the first usable system lock directory.
QString lockFilePath(const QString &device);

// Holds a device for one open: no live process may own its lock file (one of a dead process
// is removed), and the device's flock is held until this is destroyed. The flock sits on a
// descriptor of its own, so a line another program holds is never touched.
class DeviceLock {
public:
    explicit DeviceLock(const QString &device);
    ~DeviceLock();
    DeviceLock(const DeviceLock &) = delete;
    DeviceLock &operator=(const DeviceLock &) = delete;

    bool isHeld() const { return held_; }
    // Why the device could not be taken: who holds it, where the system tells.
    const QString &refusal() const { return refusal_; }

private:
    bool held_ = false;
    int fd_ = -1;
    QString refusal_;
};

} // namespace portlock
