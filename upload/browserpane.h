#pragma once

#include <QWidget>
#include <optional>

class QLabel;
class WebView;

// The browser that carries snapshot lines to the plant server. It stays a blank widget until
// the first navigation, when it loads the web engine module: the engine takes a lot of memory
// and start-up time, and most shifts never press "GGO".
class BrowserPane : public QWidget {
    Q_OBJECT

public:
    explicit BrowserPane(QWidget *parent = nullptr);

    // Opens the address, read tolerantly (blanks and the like are encoded by the browser).
    // Every call is a navigation of its own, even to the same address.
    void navigate(const QString &url);

    // History moves; nothing happens before the first navigation or when there is nowhere to go.
    // After a failed load, reload loads the failed address again.
    void back();
    void forward();
    void reload();

    // Why the last load failed; nothing once another load has begun.
    std::optional<QString> lastFailure() const { return m_lastFailure; }

    // Shows a page of the station's own (rich text) without loading the web engine; the next
    // navigation takes its place.
    void showNotice(const QString &html);

    bool hasView() const { return m_view != nullptr; }

signals:
    // (percent, 100) while loading, (-1, 0) once the load has finished.
    void progressChange(int progress, int progressMax);
    // A load failed: the address and why. The pane shows the station's page that says so, or,
    // when the server answered with an error status, the server's page under a banner.
    void loadFailed(const QString &url, const QString &reason);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    WebView *view();

    void beginLoad();

    WebView *m_view = nullptr;
    std::optional<QString> m_lastFailure;
    QLabel *m_failure = nullptr;
    QLabel *m_notice = nullptr;
};
