#include "webview.h"

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
    void load(const QUrl &url) override { QWebEngineView::load(url); }
    void back() override { QWebEngineView::back(); }
    void forward() override { QWebEngineView::forward(); }
    void reload() override { QWebEngineView::reload(); }
    void onProgress(std::function<void(int, int)> handler) override {
        progress_ = std::move(handler);
    }
    void onLoadFailed(std::function<void(const QUrl &, const QString &)> handler) override {
        failed_ = std::move(handler);
    }
    void showHtml(const QString &html) override { setHtml(html); }

private:
    void loadingChanged(const QWebEngineLoadingInfo &info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
            answerTimer_.start();
            return;
        }
        answerTimer_.stop();
        constexpr int abortedByANewerLoad = -3; // Chromium's ERR_ABORTED
        const bool failed = info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
                            !(info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain &&
                              info.errorCode() == abortedByANewerLoad);
        if (failed && failed_ && info.url() == url())
            failed_(info.url(), failureReason(info));
    }

    void giveUp() {
        const QUrl stuck = url();
        triggerPageAction(QWebEnginePage::Stop);
        if (failed_)
            failed_(stuck, QStringLiteral("No answer within %1 s.").arg(answerTimeoutMs / 1000));
    }

    std::function<void(int, int)> progress_;
    std::function<void(const QUrl &, const QString &)> failed_;
    QTimer answerTimer_;
};

} // namespace

extern "C" Q_DECL_EXPORT WebView *rtuCreateWebView(QWidget *parent) {
    // Pages are drawn in software into the pane like any other widget. A view drawn with OpenGL
    // turns the whole window into an OpenGL surface: its native window is made anew, and every
    // update of the grid then recomposes the window.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return new EngineWebView(parent);
}
