#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The contents of a serial-port lock file (LCK..name) in the forms programs write.
namespace portlock {

struct LockFileOwner {
    qint64 pid = 0;
    QString program; // when the file names it
    QString user;    // when the file names it
};

// Reads every form in use: the PID in ASCII, bare ("4547") or right-aligned in ten characters
// ("      4547"), alone or followed by program and user on the same line ("4547 minicom root")
// or on the lines after it (QSerialPort: PID, program, host); or the PID as a 4-byte binary
// integer in the machine's byte order (old UUCP). Nothing else: no PID, no owner.
std::optional<LockFileOwner> parseLockFile(const QByteArray &content);

} // namespace portlock
