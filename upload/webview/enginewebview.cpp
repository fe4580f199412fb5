#include "webview.h"

#include <QQuickWindow>
#include <QWebEngineView>

namespace {

class EngineWebView : public QWebEngineView, public WebView {
public:
    explicit EngineWebView(QWidget *parent)
        : QWebEngineView(parent) {
        connect(this, &QWebEngineView::loadProgress, this, [this](int percent) {
            if (progress_)
                progress_(percent, 100);
        });
        connect(this, &QWebEngineView::loadFinished, this, [this] {
            if (progress_)
                progress_(-1, 0);
        });
    }

    QWidget *widget() override { return this; }
    void load(const QUrl &url) override { QWebEngineView::load(url); }
    void back() override { QWebEngineView::back(); }
    void forward() override { QWebEngineView::forward(); }
    void reload() override { QWebEngineView::reload(); }
    void onProgress(std::function<void(int, int)> handler) override {
        progress_ = std::move(handler);
    }

private:
    std::function<void(int, int)> progress_;
};

} // namespace

extern "C" Q_DECL_EXPORT WebView *rtuCreateWebView(QWidget *parent) {
    // Pages are drawn in software into the pane like any other widget. A view drawn with OpenGL
    // turns the whole window into an OpenGL surface: its native window is made anew, and every
    // update of the grid then recomposes the window.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return new EngineWebView(parent);
}
