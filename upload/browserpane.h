#pragma once

#include <QWidget>

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
    void back();
    void forward();
    void reload();

    // Shows a page of the station's own (rich text) without loading the web engine; the next
    // navigation takes its place.
    void showNotice(const QString &html);

    bool hasView() const { return m_view != nullptr; }

signals:
    // (percent, 100) while loading, (-1, 0) once the load has finished.
    void progressChange(int progress, int progressMax);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    WebView *view();

    WebView *m_view = nullptr;
    QLabel *m_failure = nullptr;
    QLabel *m_notice = nullptr;
};
