#include "failurepage.h"

namespace {

QString page(const QString &title, const QString &body) {
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                          "</head><body style=\"font-family: sans-serif\"><h3>%1</h3>%2"
                          "</body></html>")
        .arg(title, body);
}

} // namespace

QString loadFailurePage(const QString &url, const QString &reason) {
    return page(QStringLiteral("The page could not be loaded"),
                QStringLiteral("<p><code>%1</code></p><p>%2</p><p>The snapshot line may not have "
                               "reached the plant server.</p>")
                    .arg(url.toHtmlEscaped(), reason.toHtmlEscaped()));
}

QString serverSettingPage(const QString &setting, const QString &problem) {
    return page(QStringLiteral("Nothing was sent"),
                QStringLiteral("<p>RTU_STATION_SERVER is <code>%1</code>: %2.</p>"
                               "<p>It takes a host name or address with an optional port: "
                               "<code>plant-web</code>, <code>plant-web:8080</code>, "
                               "<code>192.168.4.20:8080</code>, <code>[::1]:8080</code>.</p>")
                    .arg(setting.toHtmlEscaped(), problem.toHtmlEscaped()));
}

QString httpStatusBanner(const QString &url, int status) {
    return QStringLiteral("The server answered with HTTP status %1 for %2 - its own page is below. "
                          "The snapshot line may not have been stored.")
        .arg(status)
        .arg(url);
}
