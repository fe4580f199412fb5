#pragma once

#include <QString>
#include <functional>

class QLineEdit;

namespace scan {

// The cycle's last step: the snapshot line into the text box, then into the file. A failed
// write shows in the text box (red, the reason in its tooltip) until a write succeeds again.
// Returns whether the file was written.
bool takeSnapshot(const std::function<QString(int column)> &cell, QLineEdit &lineBox,
                  const QString &path);

} // namespace scan
