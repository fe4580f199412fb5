#include "snapshotstep.h"

#include "snapshot.h"

#include <QFileInfo>
#include <QLineEdit>

namespace scan {

bool takeSnapshot(const std::function<QString(int column)> &cell, QLineEdit &lineBox,
                  const QString &path) {
    lineBox.setText(snapshotLine(cell));
    const auto failure = writeSnapshotFile(path, lineBox.text());
    const bool failed = failure.has_value();
    if (failed != lineBox.property("writeFailed").toBool() || failed) {
        lineBox.setProperty("writeFailed", failed);
        lineBox.setStyleSheet(failed ? QStringLiteral("QLineEdit { color: red; }") : QString());
        lineBox.setToolTip(
            failed
                ? QStringLiteral("%1 was not written: %2").arg(QFileInfo(path).fileName(), *failure)
                : QString());
    }
    return !failed;
}

} // namespace scan
