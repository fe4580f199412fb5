#include "webview.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QQuickWindow>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <utility>

namespace {

// A server that takes the connection and never answers would keep the page loading for good.
constexpr int answerTimeoutMs = 30000;
// How long a stopped load may take to tell its end before the next navigation goes ahead.
constexpr int handOverMs = 3000;

QString failureReason(const QWebEngineLoadingInfo &info) {
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        return QStringLiteral("The server answered with HTTP status %1.").arg(info.errorCode());
    const QString what =
        info.errorString().isEmpty() ? QStringLiteral("The load failed") : info.errorString();
    return QStringLiteral("%1 (error %2).").arg(what).arg(info.errorCode());
}

class EngineWebView : public QWebEngineView, public WebView {
public:
    explicit EngineWebView(QWidget *parent)
        : QWebEngineView(parent) {
        answerTimer_.setSingleShot(true);
        answerTimer_.setInterval(answerTimeoutMs);
        connect(&answerTimer_, &QTimer::timeout, this, &EngineWebView::giveUp);
        connect(this, &QWebEngineView::loadProgress, this, [this](int percent) {
            if (progress_)
                progress_(percent, 100);
        });
        connect(this, &QWebEngineView::loadFinished, this, [this] {
            if (progress_)
                progress_(-1, 0);
        });
        connect(page(), &QWebEnginePage::loadingChanged, this, &EngineWebView::loadingChanged);
        handOverTimer_.setSingleShot(true);
        handOverTimer_.setInterval(handOverMs);
        connect(&handOverTimer_, &QTimer::timeout, this, &EngineWebView::startWaiting);
    }

    QWidget *widget() override { return this; }
    void load(const QUrl &url) override {
        navigate([this, url] { startLoad(url); });
    }
    void back() override {
        navigate([this] { QWebEngineView::back(); });
    }
    void forward() override {
        navigate([this] { QWebEngineView::forward(); });
    }
    void reload() override {
        navigate([this] {
            // The station's failure page is no page to reload: the address that failed is.
            if (failedUrl_.isValid())
                startLoad(failedUrl_);
            else
                QWebEngineView::reload();
        });
    }
    void onProgress(std::function<void(int, int)> handler) override {
        progress_ = std::move(handler);
    }
    void onLoadFailed(std::function<void(const QUrl &, const QString &, int)> handler) override {
        failed_ = std::move(handler);
    }
    void showHtml(const QString &html) override {
        navigate([this, html] { setHtml(html); });
    }
    void showBanner(const QString &text) override {
        // As text, never as markup; the page's own content stays below it.
        const QString argument =
            QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact));
        page()->runJavaScript(
            QStringLiteral("(function (a) { var d = document.createElement('div');"
                           " d.textContent = a[0]; d.style.cssText = 'background: #c00; color: "
                           "#fff; font: bold 13px sans-serif; padding: 4px 6px';"
                           " var b = document.body || document.documentElement;"
                           " b.insertBefore(d, b.firstChild); })(%1)")
                .arg(argument));
    }

private:
    // The engine keeps one load state for the whole page: a navigation begun while another load
    // is open gets no start of its own, and once the older load ends its own end goes untold.
    // So a load under way is stopped first, and the next navigation waits until its end is told
    // (bounded: an end that never comes does not hold the operator's click back for long).
    void navigate(std::function<void()> navigation) {
        if (!open_) {
            navigation();
            return;
        }
        waiting_ = std::move(navigation); // the newest click wins, as in any browser
        if (!handOverTimer_.isActive()) {
            handOverTimer_.start();
            triggerPageAction(QWebEnginePage::Stop);
        }
    }

    void startWaiting() {
        handOverTimer_.stop();
        if (auto navigation = std::exchange(waiting_, nullptr))
            navigation();
    }

    void startLoad(const QUrl &url) {
        requested_ = url;
        awaitingStart_ = true;
        // Bounded from here: a start the engine does not tell must not leave the load unwatched.
        answerTimer_.start();
        QWebEngineView::load(url);
    }

    void loadingChanged(const QWebEngineLoadingInfo &info) {
        const bool ownPage = info.url().scheme() == QLatin1String("data");
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
            open_ = true;
            awaitingStart_ = false;
            if (!ownPage) {
                requested_ = info.url();
                failedUrl_ = QUrl();
            }
            answerTimer_.start();
            return;
        }
        open_ = false;
        // The end of a load that an asked-for load replaced before its start was told: the
        // asked-for load is still under way and still watched.
        const bool older = awaitingStart_ && info.url() != requested_;
        // Cut short by a newer navigation: that one is what the operator waits for.
        const bool superseded = waiting_ != nullptr;
        if (!older) {
            awaitingStart_ = false;
            answerTimer_.stop();
            constexpr int abortedByANewerLoad = -3; // Chromium's ERR_ABORTED
            const bool failed =
                info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
                !(info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain &&
                  info.errorCode() == abortedByANewerLoad);
            if (failed && !superseded)
                fail(info.url(), failureReason(info),
                     info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain
                         ? info.errorCode()
                         : 0);
        }
        // After the engine has finished telling of this end.
        if (superseded)
            QTimer::singleShot(0, this, [this] {
                if (!open_)
                    startWaiting();
                else // another load began meanwhile (the page's own): it gives way too
                    triggerPageAction(QWebEnginePage::Stop);
            });
    }

    void giveUp() {
        triggerPageAction(QWebEnginePage::Stop);
        if (waiting_) { // already given up for a newer navigation: that one goes ahead now
            startWaiting();
            return;
        }
        // The address asked for: a first load that never got an answer has no url() yet.
        const QUrl stuck = requested_;
        awaitingStart_ = false;
        fail(stuck, QStringLiteral("No answer within %1 s.").arg(answerTimeoutMs / 1000), 0);
    }

    void fail(const QUrl &url, const QString &reason, int httpStatus) {
        failedUrl_ = url;
        if (failed_)
            failed_(url, reason, httpStatus);
    }

    std::function<void(int, int)> progress_;
    std::function<void(const QUrl &, const QString &, int)> failed_;
    QTimer answerTimer_;
    QTimer handOverTimer_;
    std::function<void()> waiting_; // the navigation that waits for the open load to end
    bool open_ = false;             // the engine has told a load's start but not yet its end
    bool awaitingStart_ = false;    // a load was asked for whose start is not told yet
    QUrl requested_;                // the address of the load under way
    QUrl failedUrl_;                // the address of the last load, when it failed
};

} // namespace

extern "C" Q_DECL_EXPORT WebView *rtuCreateWebView(QWidget *parent) {
    // Pages are drawn in software into the pane like any other widget. A view drawn with OpenGL
    // turns the whole window into an OpenGL surface: its native window is made anew, and every
    // update of the grid then recomposes the window.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return new EngineWebView(parent);
}
