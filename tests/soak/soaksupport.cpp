#include "soaksupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <sys/resource.h>

namespace soak {

int envInt(const char *name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size());
}

int openTerminals() {
    const QDir fds(QStringLiteral("/proc/self/fd"));
    int terminals = 0;
    for (const QFileInfo &fd : fds.entryInfoList(QDir::NoDotAndDotDot | QDir::System)) {
        const QString target = fd.symLinkTarget();
        if (target.startsWith(QStringLiteral("/dev/pts/")) || target == QStringLiteral("/dev/ptmx"))
            ++terminals;
    }
    return terminals;
}

QByteArray withCrc(QByteArray frame) {
    std::uint16_t crc = 0xFFFF;
    for (const char c : frame) {
        crc ^= std::uint8_t(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

bool crcHolds(QByteArrayView frame) {
    return frame.size() >= 3 &&
           withCrc(frame.first(frame.size() - 2).toByteArray()) == frame.toByteArray();
}

QByteArray staticReply(int slave, int start, int count) {
    QByteArray frame;
    frame.append(char(slave));
    frame.append(char(3));
    frame.append(char(2 * count));
    for (int r = 0; r < count; ++r) {
        const std::uint16_t v = staticValue(slave, start + r);
        frame.append(char(v >> 8));
        frame.append(char(v & 0xFF));
    }
    return withCrc(frame);
}

bool isWholeSnapshotLine(QByteArrayView content) {
    return content.endsWith(",\r\n") && content.count('\n') == 1 && content.count('\r') == 1 &&
           content.count(',') == 10;
}

bool readRecord(const QString &path, std::vector<ServedReply> &out, QString *why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return false;
    }
    out.clear();
    int lineNumber = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split(' ');
        bool ok[5] = {};
        ServedReply r;
        if (f.size() == 6) {
            r.timeMs = f[0].toLongLong(&ok[0]);
            r.link = f[1].toInt(&ok[1]);
            r.slave = f[2].toInt(&ok[2]);
            r.firstRegister = f[3].toInt(&ok[3]);
            r.values.push_back(std::uint16_t(f[4].toUInt(&ok[4])));
            r.kind = QString::fromLatin1(f[5]);
        }
        if (f.size() != 6 || !(ok[0] && ok[1] && ok[2] && ok[3] && ok[4])) {
            *why = QStringLiteral("line %1 does not read: %2")
                       .arg(lineNumber)
                       .arg(QString::fromLatin1(line));
            return false;
        }
        // The lines of one reply follow one another with consecutive registers.
        if (!out.empty()) {
            ServedReply &last = out.back();
            if (last.timeMs == r.timeMs && last.link == r.link && last.slave == r.slave &&
                last.kind == r.kind &&
                last.firstRegister + int(last.values.size()) == r.firstRegister) {
                last.values.push_back(r.values.front());
                continue;
            }
        }
        out.push_back(std::move(r));
    }
    return true;
}

} // namespace soak
