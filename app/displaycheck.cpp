#include "displaycheck.h"

#include <QtGlobal>

namespace {

QString chosenPlatform(const QStringList &arguments) {
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i)
        if (arguments[i] == QLatin1String("-platform") ||
            arguments[i] == QLatin1String("--platform"))
            return arguments[i + 1];
    return qEnvironmentVariable("QT_QPA_PLATFORM");
}

// True when every platform on the list (NAME[:options], separated by ';') is X11.
bool onlyX11(const QString &platforms) {
    for (const QString &entry : platforms.split(u';', Qt::SkipEmptyParts))
        if (entry.section(u':', 0, 0).trimmed() != QLatin1String("xcb"))
            return false;
    return true;
}

} // namespace

std::optional<QString> missingDisplay(const QStringList &arguments) {
#if defined(Q_OS_LINUX)
    if (onlyX11(chosenPlatform(arguments)) && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("no display: DISPLAY and WAYLAND_DISPLAY are not set (for a run "
                              "without a window, set QT_QPA_PLATFORM=offscreen)");
#else
    Q_UNUSED(arguments);
#endif
    return std::nullopt;
}
