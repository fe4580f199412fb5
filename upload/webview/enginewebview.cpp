#include "webview.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QQuickWindow>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

// A server that takes the connection and never answers would keep the page loading for good.
constexpr int answerTimeoutMs = 30000;

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
    }

    QWidget *widget() override { return this; }
    void load(const QUrl &url) override {
        requested_ = url;
        QWebEngineView::load(url);
    }
    void back() override { QWebEngineView::back(); }
    void forward() override { QWebEngineView::forward(); }
    void reload() override {
        // The station's failure page is no page to reload: the address that failed is.
        if (failedUrl_.isValid())
            load(failedUrl_);
        else
            QWebEngineView::reload();
    }
    void onProgress(std::function<void(int, int)> handler) override {
        progress_ = std::move(handler);
    }
    void onLoadFailed(std::function<void(const QUrl &, const QString &, int)> handler) override {
        failed_ = std::move(handler);
    }
    void showHtml(const QString &html) override { setHtml(html); }
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
    void loadingChanged(const QWebEngineLoadingInfo &info) {
        const bool ownPage = info.url().scheme() == QLatin1String("data");
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
            if (!ownPage) {
                requested_ = info.url();
                failedUrl_ = QUrl();
            }
            answerTimer_.start();
            return;
        }
        answerTimer_.stop();
        constexpr int abortedByANewerLoad = -3; // Chromium's ERR_ABORTED
        const bool failed = info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
                            !(info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain &&
                              info.errorCode() == abortedByANewerLoad);
        // The load under way, not the page shown: a failed load's address may not have become
        // the page's yet when its failure is told.
        if (failed && info.url() == requested_)
            fail(info.url(), failureReason(info),
                 info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain
                     ? info.errorCode()
                     : 0);
    }

    void giveUp() {
        // The address asked for: a first load that never got an answer has no url() yet.
        const QUrl stuck = requested_;
        triggerPageAction(QWebEnginePage::Stop);
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
    QUrl requested_; // the address of the load under way
    QUrl failedUrl_; // the address of the last load, when it failed
};

} // namespace

extern "C" Q_DECL_EXPORT WebView *rtuCreateWebView(QWidget *parent) {
    // Pages are drawn in software into the pane like any other widget. A view drawn with OpenGL
    // turns the whole window into an OpenGL surface: its native window is made anew, and every
    // update of the grid then recomposes the window.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return new EngineWebView(parent);
}
