#include "lockfile.h"

#include <QList>
#include <cstring>

namespace portlock {

std::optional<LockFileOwner> parseLockFile(const QByteArray &content) {
    const QByteArray firstLine = content.split('\n').first().simplified();
    const QList<QByteArray> words = firstLine.split(' ');
    bool ascii = false;
    LockFileOwner owner;
    owner.pid = words.first().toLongLong(&ascii);
    if (ascii) {
        if (words.size() > 1)
            owner.program = QString::fromLocal8Bit(words[1]);
        if (words.size() > 2)
            owner.user = QString::fromLocal8Bit(words[2]);
        else if (const QList<QByteArray> lines = content.split('\n'); lines.size() > 1)
            owner.program = QString::fromLocal8Bit(lines[1].trimmed()); // QSerialPort's form
    } else if (content.size() == 4) {
        qint32 binary = 0;
        std::memcpy(&binary, content.constData(), sizeof binary);
        owner.pid = binary;
    }
    if (owner.pid <= 0)
        return std::nullopt;
    return owner;
}

} // namespace portlock
