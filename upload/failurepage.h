#pragma once

#include <QString>

// Pages the browser pane shows in place of the server's answer. Every text from outside (the
// address with the operator's line, the setting, the reason) is HTML-escaped.

// The upload address could not be loaded, and why.
QString loadFailurePage(const QString &url, const QString &reason);

// RTU_STATION_SERVER is not usable, so "GGO" sends nothing.
QString serverSettingPage(const QString &setting, const QString &problem);

// Plain text over the server's own page when it answered with an error status.
QString httpStatusBanner(const QString &url, int status);
