#include "displaycheck.h"
#include "form1.h"
#include "quitsignals.h"
#include "settingscheck.h"
#include "startupproblem.h"
#include "stationsettings.h"
#include "transport.h"

#include <QApplication>
#include <csignal>

namespace {

QStringList argumentList(int argc, char *argv[]) {
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

} // namespace

int main(int argc, char *argv[]) {
    // A stop asked for while the program starts is kept until the window can act on it.
    QuitSignals::holdBack();
    // A capture-file reader that goes away makes a write fail, not the station end.
    std::signal(SIGPIPE, SIG_IGN);
    // Start-up problems are told before the toolkit starts, and reach a person (see
    // tellStartupProblem).
    const auto refuse = [&](int status, const QString &why) {
        return tellStartupProblem(status, why, argc, argv);
    };
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (const auto problem = settingsProblem(environment))
        return refuse(2, *problem);
    // Read once, here: the window and its parts get what they need of it.
    const StationSettings settings = StationSettings::fromEnvironment(environment);
    const QString &ports = settings.portPattern;
    if (const auto problem = portPatternProblem(ports))
        return refuse(2, QStringLiteral("RTU_STATION_PORTS=\"") + ports + QStringLiteral("\" ") +
                             *problem +
                             QStringLiteral("; the accepted form is a device path with %1 for the "
                                            "port number and no other %-marker, e.g. "
                                            "/dev/rtu/COM%1"));
    if (const auto problem = missingDisplay(argumentList(argc, argv)))
        return refuse(1, *problem);

#ifdef SIGXFSZ
    // Past a file-size limit the snapshot write fails and shows, rather than ending the station.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    Form1 form({}, Form1Options{.settings = settings});
    QuitSignals quitSignals;
    // Stopped from outside, the station shuts down as when the operator closes the window.
    QObject::connect(&quitSignals, &QuitSignals::received, &form, [&form] {
        form.close();
        QCoreApplication::quit();
    });
    form.show();
    return app.exec();
}
