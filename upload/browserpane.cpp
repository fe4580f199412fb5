#include "browserpane.h"

#include <QResizeEvent>
#include <QUrl>
#include <QWebEngineView>

BrowserPane::BrowserPane(QWidget *parent)
    : QWidget(parent) {}

void BrowserPane::navigate(const QString &url) {
    view()->load(QUrl(url, QUrl::TolerantMode));
}

void BrowserPane::back() {
    if (m_view)
        m_view->back();
}

void BrowserPane::forward() {
    if (m_view)
        m_view->forward();
}

void BrowserPane::reload() {
    if (m_view)
        m_view->reload();
}

void BrowserPane::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->setGeometry(rect());
}

QWebEngineView *BrowserPane::view() {
    if (m_view)
        return m_view;
    m_view = new QWebEngineView(this);
    m_view->setGeometry(rect());
    connect(m_view, &QWebEngineView::loadProgress, this,
            [this](int percent) { emit progressChange(percent, 100); });
    connect(m_view, &QWebEngineView::loadFinished, this, [this] { emit progressChange(-1, 0); });
    m_view->show();
    return m_view;
}
