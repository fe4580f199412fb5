#include "settingscheck.h"

std::optional<QString> settingsProblem(const QProcessEnvironment &environment) {
    const QString handedOver = environment.value(QStringLiteral("RTU_STATION_SETTINGS_ERROR"));
    if (!handedOver.isEmpty())
        return handedOver;
    for (const QString &name : environment.keys()) {
        if (!name.startsWith(QLatin1String("RTU_STATION_")))
            continue;
        const QString value = environment.value(name);
        for (const QChar c : value) {
            if (c.category() != QChar::Other_Control)
                continue;
            const QString what = c == u'\r' ? QStringLiteral("a carriage return (a file with "
                                                             "Windows line ends?)")
                                            : QStringLiteral("the control character U+%1")
                                                  .arg(c.unicode(), 4, 16, QLatin1Char('0'));
            return QStringLiteral("%1 holds %2; set it again without it").arg(name, what);
        }
    }
    return std::nullopt;
}
