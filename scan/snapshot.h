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

// Replaces the file with the line and CR LF, one byte per character. The line goes into a
// temporary file beside it (".NAME.rtu-station-PID-" and six letters or digits), is synced, and
// is renamed over the file, so a reader never sees it empty or half-written and a failed write
// at any point leaves the previous line and no temporary file. A link is followed: its target
// is replaced in the target's folder. A file that may not be written (read-only) is never
// replaced. Where the folder refuses new files but the file itself is writable, the line is
// written into the file in place instead. Blocks on the disk: not for the GUI thread.
// Returns why it failed, or nothing.
std::optional<QString> writeSnapshotFile(const QString &path, const QString &line);

// The process that made a temporary file of writeSnapshotFile for `path`, if the name is one.
std::optional<qint64> snapshotTemporaryOwner(const QString &path, const QString &fileName);

// Removes the temporary files that writes of processes no longer running left beside the file.
// Returns how many.
int removeSnapshotTemporaries(const QString &path);

} // namespace scan
