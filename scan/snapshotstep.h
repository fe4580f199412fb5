#pragma once

#include <QString>
#include <functional>
#include <optional>

class QLineEdit;

namespace scan {

class SnapshotWriter;

// The cycle's last step: the snapshot line into the text box, then handed to the writer, which
// writes it to the file on a thread of its own.
void takeSnapshot(const std::function<QString(int column)> &cell, QLineEdit &lineBox,
                  SnapshotWriter &writer);

// Shows a write's outcome in the text box: red, with the reason in its tooltip, until a write
// succeeds again.
void showSnapshotWrite(QLineEdit &lineBox, const QString &path,
                       const std::optional<QString> &failure);

// Makes the text box show the writer's outcomes.
void showWritesIn(QLineEdit &lineBox, SnapshotWriter &writer);

} // namespace scan
