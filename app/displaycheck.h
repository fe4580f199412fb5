#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Why the window could not open, told before the toolkit starts (it would abort with a message
// of its own): on Linux, the X11 platform, or none chosen, with neither DISPLAY nor
// WAYLAND_DISPLAY set, or an X11 display that cannot be opened (no server, refused). Other
// platforms (offscreen, a virtual frame buffer) pass.
// `arguments` are the program's, which may choose the platform with -platform NAME.
std::optional<QString> missingDisplay(const QStringList &arguments);
