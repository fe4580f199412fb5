#pragma once

#include <QString>
#include <QStringList>

// One adapter, one owner: a device is taken under its real name, whatever link names it, and
// the usual serial-port locks of other programs are respected.
namespace portlock {

// The device a configured name stands for, symlinks followed (/dev/serial/by-id/..., the
// station's own port links); a name that leads nowhere stays as it is.
QString realDevice(const QString &name);

// The lock file QSerialPort keeps while it has a device open: LCK.. and the name below /dev
// with '/' as '_' (LCK..ttyUSB0, LCK..pts_3) in the first usable system lock directory.
QString lockFilePath(const QString &device);

// The lock files in the lock directories that name `device` under any name: its own
// (LCK..ttyUSB0), and those of a link to it that another program was given (minicom -D on a
// symlink or a /dev/serial/by-id name locks LCK..<that name>). A lock file's name is looked up
// below /dev, /dev/serial/by-id, /dev/serial/by-path and among `names` (the names the station
// was given for the device), and counts when it leads to the same device.
QStringList lockFilesOf(const QString &device, const QStringList &names);

// Holds a device for one open: no live process may own a lock file of it (one of a dead process
// is removed), and the device's flock is held until this is destroyed. The flock sits on a
// descriptor of its own, so a line another program holds is never touched. A dead process's
// lock file the station may not remove (another user's, in the sticky lock directory) does not
// keep the device closed: the flock guards it, and notice() names the file.
class DeviceLock {
public:
    explicit DeviceLock(const QString &device, const QStringList &names = {});
    ~DeviceLock();
    DeviceLock(const DeviceLock &) = delete;
    DeviceLock &operator=(const DeviceLock &) = delete;

    bool isHeld() const { return held_; }
    // Why the device could not be taken: who holds it, where the system tells.
    const QString &refusal() const { return refusal_; }
    // What the operator should know about a device that was taken, e.g. a stale lock file.
    const QString &notice() const { return notice_; }
    // The path to open the device by. Where the device's usual lock file is stale but stays,
    // the serial port library would refuse it: the device is then opened through this lock's
    // own descriptor, the flock still guarding it.
    QString openPath() const;

private:
    bool held_ = false;
    int fd_ = -1;
    bool usualLockStays_ = false;
    QString device_;
    QString refusal_;
    QString notice_;
};

} // namespace portlock
