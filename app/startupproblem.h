#pragma once

#include <QString>

// Tells why the station cannot start to whoever started it, and returns `status`. The one line
// on standard error always goes; when standard error is no terminal (started from the menu, the
// autostart entry or a user unit), the same text also appears in a message window, or, with no
// display to show one on, in a desktop notification (notify-send) where there is one.
int tellStartupProblem(int status, const QString &why, int argc, char *argv[]);
