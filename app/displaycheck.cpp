#include "displaycheck.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <dlfcn.h>
#endif

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

#if defined(Q_OS_LINUX)
// Connects to the X server once, through libxcb loaded for the moment (the toolkit's X11
// platform uses the same library): nothing when it answers, else why not. A system without the
// library has no X11 platform either, and the toolkit says so itself.
std::optional<QString> x11Refusal(const QByteArray &display) {
    void *xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb)
        return std::nullopt;
    using Connect = void *(*)(const char *, int *);
    using HasError = int (*)(void *);
    using Disconnect = void (*)(void *);
    const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    std::optional<QString> refusal;
    if (connect && hasError && disconnect) {
        void *connection = connect(display.constData(), nullptr);
        if (const int error = hasError(connection))
            refusal = QStringLiteral("cannot open display \"%1\": %2")
                          .arg(QString::fromLocal8Bit(display),
                               error == 1 ? QStringLiteral("no X server answers there, or it "
                                                           "refuses the connection")
                                          : QStringLiteral("X connection error %1").arg(error));
        disconnect(connection); // also frees a connection that failed
    }
    ::dlclose(xcb);
    return refusal;
}
#endif

} // namespace

std::optional<QString> missingDisplay(const QStringList &arguments) {
#if defined(Q_OS_LINUX)
    if (onlyX11(chosenPlatform(arguments)) && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("no display: DISPLAY and WAYLAND_DISPLAY are not set (for a run "
                              "without a window, set QT_QPA_PLATFORM=offscreen)");
    // X11 is what the toolkit takes when it is chosen, or when no Wayland display is named.
    const QString platform = chosenPlatform(arguments);
    const bool x11 = onlyX11(platform) &&
                     (!platform.isEmpty() || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"));
    if (x11 && !qEnvironmentVariableIsEmpty("DISPLAY"))
        return x11Refusal(qgetenv("DISPLAY"));
#else
    Q_UNUSED(arguments);
#endif
    return std::nullopt;
}
