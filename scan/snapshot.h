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
// temporary file beside it (the file's name, a dot and six letters or digits), is synced, and
// is renamed over the file, so a reader never sees it empty or half-written and a failed write
// at any point leaves the previous line and no temporary file. Where the folder refuses new
// files but the file itself is writable, the line is written into the file in place instead.
// Returns why it failed, or nothing.
std::optional<QString> writeSnapshotFile(const QString &path, const QString &line);

// Whether a file name is one of the temporary files writeSnapshotFile makes for `path`.
bool isSnapshotTemporary(const QString &path, const QString &fileName);

// Removes temporary files that an interrupted write left beside the file. Returns how many.
int removeSnapshotTemporaries(const QString &path);

} // namespace scan
