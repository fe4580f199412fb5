#pragma once

#include <QString>
#include <functional>
#include <optional>

namespace scan {

constexpr int snapshotRow = 4;
constexpr int firstSnapshotColumn = 2;
constexpr int lastSnapshotColumn = 11;

// Cells of the snapshot row, columns 2 to 11, each followed by a comma, taken as they stand.
QString snapshotLine(const std::function<QString(int column)> &cell);

// Replaces the file with the line and CR LF, one byte per character. The new content takes the
// old one's place at once, so a reader never sees an empty or half-written file, and a failed
// write leaves the previous line in place. Returns why it failed, or nothing.
std::optional<QString> writeSnapshotFile(const QString &path, const QString &line);

} // namespace scan
