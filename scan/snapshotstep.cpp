#include "snapshotstep.h"

#include "snapshot.h"
#include "snapshotwriter.h"

#include <QFileInfo>
#include <QLineEdit>

namespace scan {

void takeSnapshot(const std::function<QString(int column)> &cell, QLineEdit &lineBox,
                  SnapshotWriter &writer) {
    lineBox.setText(snapshotLine(cell));
    writer.write(lineBox.text());
}

void showSnapshotWrite(QLineEdit &lineBox, const QString &path,
                       const std::optional<QString> &failure) {
    const bool failed = failure.has_value();
    if (failed != lineBox.property("writeFailed").toBool() || failed) {
        lineBox.setProperty("writeFailed", failed);
        lineBox.setStyleSheet(failed ? QStringLiteral("QLineEdit { color: red; }") : QString());
        lineBox.setToolTip(
            failed
                ? QStringLiteral("%1 was not written: %2").arg(QFileInfo(path).fileName(), *failure)
                : QString());
    }
}

void showWritesIn(QLineEdit &lineBox, SnapshotWriter &writer) {
    QObject::connect(&writer, &SnapshotWriter::written, &lineBox,
                     [&lineBox, &writer](const std::optional<QString> &failure) {
                         showSnapshotWrite(lineBox, writer.path(), failure);
                     });
    QObject::connect(&writer, &SnapshotWriter::stuck, &lineBox,
                     [&lineBox, &writer](const QString &why) {
                         showSnapshotWrite(lineBox, writer.path(), why);
                     });
}

} // namespace scan
