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

QByteArray staticReply(int slave, int start, int count) {
    std::vector<std::uint16_t> values;
    for (int r = 0; r < count; ++r)
        values.push_back(staticValue(slave, start + r));
    return readReply(slave, values);
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
