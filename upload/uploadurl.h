#pragma once

#include <QString>
#include <optional>

// The plant web server that receives snapshot lines: the setting with the blanks around it
// trimmed (host or address, optionally ":port"), or "localhost" when unset or blank.
QString serverAddress(const QString &setting);
// The same of RTU_STATION_SERVER as the environment holds it now.
QString serverAddress();

// What is wrong with a server address, or nothing when it is a host name, an IPv4 address or a
// bracketed IPv6 address, each with an optional ":port" (1 to 65535). Anything else would put
// the line somewhere else than the upload page ("/", "?", "#", "@", blanks).
std::optional<QString> serverAddressProblem(const QString &server);

// The GET address that hands one snapshot line to the plant server. The line
// goes in as it is; the browser encodes what needs encoding.
QString uploadUrl(const QString &server, const QString &line);
