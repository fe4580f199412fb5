#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

// What the browser pane needs of a web view. The web engine behind it lives in a module of its
// own that is loaded at the first navigation, so a station that never uploads never pays for it.
class WebView {
public:
    virtual ~WebView() = default;
    virtual QWidget *widget() = 0;
    virtual void load(const QUrl &url) = 0;
    virtual void back() = 0;
    virtual void forward() = 0;
    virtual void reload() = 0;
    // Load progress in percent while a page loads, then (-1, 0) at its end.
    virtual void onProgress(std::function<void(int progress, int progressMax)> handler) = 0;
    // A page that could not be loaded (no connection, no such host, no answer in time, an HTTP
    // error status), with the reason in words; httpStatus is the status when the server answered
    // with an error, whose page is then shown, else 0. A load cut short by a newer one is not
    // reported. "Reload" after a failure loads the failed address again.
    virtual void onLoadFailed(
        std::function<void(const QUrl &url, const QString &reason, int httpStatus)> handler) = 0;
    // Shows a page of the station's own in place of the current one.
    virtual void showHtml(const QString &html) = 0;
    // Puts a line of text over the top of the page shown.
    virtual void showBanner(const QString &text) = 0;
};

// The module's one entry point; the view is a child of `parent`.
using CreateWebView = WebView *(*)(QWidget *parent);
inline constexpr char createWebViewSymbol[] = "rtuCreateWebView";
