#include "uploadurl.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>

namespace {

std::optional<QString> portProblem(const QString &port) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (!digits.match(port).hasMatch() || port.toInt() < 1 || port.toInt() > 65535)
        return QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(port);
    return std::nullopt;
}

bool isIPv4Like(const QString &host) {
    static const QRegularExpression numeric(QStringLiteral("^[0-9.]+$"));
    return numeric.match(host).hasMatch();
}

bool isIPv4(const QString &host) {
    const QStringList parts = host.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        bool ok = false;
        if (part.isEmpty() || part.size() > 3 || part.toInt(&ok) > 255 || !ok)
            return false;
    }
    return true;
}

bool isHostName(const QString &host) {
    static const QRegularExpression label(
        QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_-]{0,61}[A-Za-z0-9_])?$"));
    if (host.size() > 253)
        return false;
    const QStringList labels = host.split(u'.');
    for (qsizetype i = 0; i < labels.size(); ++i)
        if (!label.match(labels[i]).hasMatch() &&
            !(i == labels.size() - 1 && labels[i].isEmpty() && i > 0))
            return false;
    return true;
}

std::optional<QString> hostProblem(const QString &host, bool bracketed) {
    if (host.isEmpty())
        return bracketed ? QStringLiteral("the brackets hold no address")
                         : QStringLiteral("there is no host before the port");
    if (bracketed) {
        static const QRegularExpression ipv6(QStringLiteral("^[0-9A-Fa-f:.]+$"));
        if (!ipv6.match(host).hasMatch() ||
            !QUrl(QStringLiteral("http://[%1]/").arg(host)).isValid())
            return QStringLiteral("\"[%1]\" is not an IPv6 address").arg(host);
        return std::nullopt;
    }
    if (isIPv4Like(host) ? !isIPv4(host) : !isHostName(host))
        return QStringLiteral("\"%1\" is not a host name or address").arg(host);
    return std::nullopt;
}

} // namespace

QString serverAddress() {
    const QString server = qEnvironmentVariable("RTU_STATION_SERVER").trimmed();
    return server.isEmpty() ? QStringLiteral("localhost") : server;
}

std::optional<QString> serverAddressProblem(const QString &server) {
    for (const QChar c : server) {
        if (c.isSpace())
            return QStringLiteral("it holds a blank");
        if (QStringView(u"/?#@\\").contains(c))
            return QStringLiteral("it holds \"%1\", which would change where the line goes").arg(c);
    }
    const bool bracketed = server.startsWith(u'[');
    const qsizetype hostEnd = bracketed ? server.indexOf(u']') + 1 : server.indexOf(u':');
    if (bracketed && hostEnd == 0)
        return QStringLiteral("the \"[\" has no \"]\"");
    if (!bracketed && server.count(u':') > 1)
        return QStringLiteral("an IPv6 address needs brackets, as in [::1]:8080");
    const QString host = hostEnd < 0 ? server : server.left(hostEnd);
    const QString rest = server.mid(host.size());
    if (!rest.isEmpty() && !rest.startsWith(u':'))
        return QStringLiteral("only \":port\" may follow \"]\"");
    if (const auto problem =
            bracketed ? hostProblem(host.mid(1, host.size() - 2), true) : hostProblem(host, false))
        return problem;
    if (!rest.isEmpty())
        return portProblem(rest.mid(1));
    return std::nullopt;
}

QString uploadUrl(const QString &server, const QString &line) {
    return QStringLiteral("http://") + server +
           QStringLiteral("/telvaro/rtu/masterdata/rare.php?dta=") + line;
}
