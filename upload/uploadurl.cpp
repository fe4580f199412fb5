#include "uploadurl.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>

#include <algorithm>

namespace {

// Ports the web engine will not connect to, whatever the address: they belong to other
// services (mail, FTP, IRC, …), and a page could otherwise talk to them.
bool refusedByTheEngine(int port) {
    static constexpr int refused[] = {
        1,    7,    9,    11,   13,   15,   17,   19,   20,   21,   22,   23,   25,   37,
        42,   43,   53,   69,   77,   79,   87,   95,   101,  102,  103,  104,  109,  110,
        111,  113,  115,  117,  119,  123,  135,  137,  139,  143,  161,  179,  389,  427,
        465,  512,  513,  514,  515,  526,  530,  531,  532,  540,  548,  554,  556,  563,
        587,  601,  636,  989,  990,  993,  995,  1719, 1720, 1723, 2049, 3659, 4045, 5060,
        5061, 6000, 6566, 6665, 6666, 6667, 6668, 6669, 6697, 10080};
    return std::find(std::begin(refused), std::end(refused), port) != std::end(refused);
}

std::optional<QString> portProblem(const QString &port) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (!digits.match(port).hasMatch() || port.toInt() < 1 || port.toInt() > 65535)
        return QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(port);
    if (refusedByTheEngine(port.toInt()))
        return QStringLiteral("the web engine refuses port %1 (it belongs to another service)")
            .arg(port.toInt());
    return std::nullopt;
}

bool isHex(QStringView part) {
    return part.size() >= 2 && part[0] == u'0' && (part[1] == u'x' || part[1] == u'X');
}

bool allDigits(QStringView text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// The web engine reads a host whose last part is a number (decimal or 0x…) as an IPv4 address.
bool endsInNumber(const QString &host) {
    QStringList parts = host.split(u'.');
    if (parts.size() > 1 && parts.last().isEmpty())
        parts.removeLast();
    const QString &last = parts.last();
    return allDigits(last) || isHex(last);
}

// Only the one form a person reads as the engine does: four decimal numbers 0 to 255 without
// leading zeros. The engine also takes octal (010 is 8), hexadecimal (0x7f) and fewer parts
// (127.1 is 127.0.0.1), which would send the line elsewhere than the setting seems to say.
std::optional<QString> ipv4Problem(const QString &host) {
    const QStringList parts = host.split(u'.');
    for (const QString &part : parts) {
        if (isHex(part))
            return QStringLiteral("\"%1\" in \"%2\" is read as a hexadecimal number")
                .arg(part, host);
        if (!allDigits(part))
            return QStringLiteral("\"%1\" ends in a number, so it is read as an IPv4 address, "
                                  "and it is none")
                .arg(host);
        if (part.size() > 1 && part.startsWith(u'0'))
            return QStringLiteral("\"%1\" in \"%2\" is read as an octal number (%3)")
                .arg(part, host)
                .arg(part.toLongLong(nullptr, 8));
    }
    if (parts.size() != 4)
        return QStringLiteral("\"%1\" is not four numbers, as in 192.168.4.20").arg(host);
    for (const QString &part : parts)
        if (part.size() > 3 || part.toInt() > 255)
            return QStringLiteral("\"%1\" has a number above 255").arg(host);
    return std::nullopt;
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
    if (endsInNumber(host))
        return ipv4Problem(host);
    if (!isHostName(host))
        return QStringLiteral("\"%1\" is not a host name or address").arg(host);
    return std::nullopt;
}

} // namespace

QString serverAddress(const QString &setting) {
    const QString server = setting.trimmed();
    return server.isEmpty() ? QStringLiteral("localhost") : server;
}

QString serverAddress() {
    return serverAddress(qEnvironmentVariable("RTU_STATION_SERVER"));
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
