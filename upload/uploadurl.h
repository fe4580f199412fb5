#pragma once

#include <QString>

// The plant web server that receives snapshot lines: RTU_STATION_SERVER
// (host or address, optionally ":port"), or "localhost" when unset or empty.
QString serverAddress();

// The GET address that hands one snapshot line to the plant server. The line
// goes in as it is; the browser encodes what needs encoding.
QString uploadUrl(const QString &server, const QString &line);
