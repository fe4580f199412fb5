#include "startupproblem.h"

#include "displaycheck.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A window nobody can see is not shown: these platforms draw nowhere.
bool drawsOnAScreen(const QStringList &arguments) {
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (const char *hidden : {"offscreen", "minimal"})
        if (platform.startsWith(QLatin1String(hidden)) || arguments.contains(QLatin1String(hidden)))
            return false;
    return !missingDisplay(arguments);
}

// In a child of its own, so that a display that cannot be opened (the toolkit then aborts) costs
// only the message, never the status the station ends with.
void inChild(const auto &show) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        // The stop signals held back since the start must reach the message: a service manager
        // that stops the station ends it, and the waiting station with it.
        sigset_t none;
        sigemptyset(&none);
        ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
        if (FILE *quiet = std::freopen("/dev/null", "w", stderr); !quiet)
            ::_exit(1);
        show();
        ::_exit(0);
    }
    if (child > 0)
        ::waitpid(child, nullptr, 0);
}

} // namespace

int tellStartupProblem(int status, const QString &why, int argc, char *argv[]) {
    for (const QString &line : why.split(u'\n'))
        std::fprintf(stderr, "rtu-station: %s\n", qPrintable(line));
    if (::isatty(STDERR_FILENO))
        return status;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString title = QStringLiteral("RTU station did not start");
    if (drawsOnAScreen(arguments)) {
        inChild([&] {
            int count = argc;
            QApplication app(count, argv);
            QMessageBox box(QMessageBox::Critical, title, why, QMessageBox::Ok);
            box.exec();
        });
    } else {
        inChild([&] {
            const QByteArray summary = title.toLocal8Bit(), body = why.toLocal8Bit();
            ::alarm(10); // a notification service that does not answer ends it, not the wait
            ::execlp("notify-send", "notify-send", "--urgency=critical", "--app-name=rtu-station",
                     summary.constData(), body.constData(), static_cast<char *>(nullptr));
        });
    }
    return status;
}
