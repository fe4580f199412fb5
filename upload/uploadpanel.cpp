#include "uploadpanel.h"

#include "applyprogress.h"
#include "browserpane.h"
#include "failurepage.h"
#include "uploadurl.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

UploadPanel::UploadPanel(UploadControls controls, QString server,
                         std::optional<QString> serverProblem, QObject *parent)
    : QObject(parent)
    , c_(controls)
    , server_(std::move(server))
    , serverProblem_(std::move(serverProblem)) {
    if (serverProblem_)
        qWarning("rtu-station: RTU_STATION_SERVER \"%s\" is refused, \"GGO\" sends nothing: %s",
                 qPrintable(server_), qPrintable(*serverProblem_));
    connect(c_.send, &QPushButton::clicked, this, &UploadPanel::send);
    connect(c_.forward, &QPushButton::clicked, c_.browser, &BrowserPane::forward);
    connect(c_.back, &QPushButton::clicked, c_.browser, &BrowserPane::back);
    connect(c_.reload, &QPushButton::clicked, c_.browser, &BrowserPane::reload);
    connect(c_.browser, &BrowserPane::progressChange, this, [this](int progress, int progressMax) {
        applyProgress(*c_.progressBar, *c_.progress, progress, progressMax);
        applyLoadFailure(*c_.progress, c_.browser->lastFailure());
    });
    connect(
        c_.browser, &BrowserPane::loadFailed, this,
        [this](const QString &, const QString &reason) { applyLoadFailure(*c_.progress, reason); });
}

void UploadPanel::send() {
    if (serverProblem_) { // nothing goes out to an address the line was not meant for
        c_.browser->showNotice(serverSettingPage(server_, *serverProblem_));
        c_.progress->setText(QStringLiteral("Not sent"));
        c_.progress->setToolTip(QStringLiteral("RTU_STATION_SERVER: ") + *serverProblem_);
        return;
    }
    c_.address->setText(uploadUrl(server_, c_.line->text()));
    c_.browser->navigate(c_.address->text());
}
