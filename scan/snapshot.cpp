#include "snapshot.h"

#include <QSaveFile>

namespace scan {

QString snapshotLine(const std::function<QString(int column)> &cell) {
    QString line;
    for (int column = firstSnapshotColumn; column <= lastSnapshotColumn; ++column)
        line += cell(column) + u',';
    return line;
}

std::optional<QString> writeSnapshotFile(const QString &path, const QString &line) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray bytes = line.toLatin1() + "\r\n";
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return why;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace scan
