#include "browserpane.h"

#include "failurepage.h"
#include "webview.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLibrary>
#include <QOpenGLContext>
#include <QResizeEvent>
#include <QUrl>

// Exported by Qt GUI for the web engine's own set-up; the station does that set-up late.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext *context);

namespace {

// The web engine's set-up reads the OpenGL context shared with the window, even though it draws
// its pages in software. Made at the first navigation rather than at start-up, so that the GL
// driver is loaded only when a page is.
void shareOpenGLContexts() {
    if (QOpenGLContext::globalShareContext())
        return;
    auto *context = new QOpenGLContext(QCoreApplication::instance());
    if (context->create())
        qt_gl_set_global_share_context(context);
    else
        delete context; // no OpenGL here (offscreen): the engine draws in software
}

// Only beside the program, a folder as root's as the program itself: never a path the build
// happened to use.
QStringList moduleCandidates() {
    return {QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("rtu-webview"))};
}

} // namespace

BrowserPane::BrowserPane(QWidget *parent)
    : QWidget(parent) {}

void BrowserPane::beginLoad() {
    m_lastFailure.reset();
}

void BrowserPane::navigate(const QString &url) {
    if (m_notice)
        m_notice->hide();
    beginLoad();
    if (WebView *v = view())
        v->load(QUrl(url, QUrl::TolerantMode));
}

void BrowserPane::showNotice(const QString &html) {
    if (!m_notice) {
        m_notice = new QLabel(this);
        m_notice->setTextFormat(Qt::RichText);
        m_notice->setWordWrap(true);
        m_notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        m_notice->setAutoFillBackground(true);
    }
    m_notice->setText(html);
    m_notice->setGeometry(rect());
    m_notice->show();
    m_notice->raise();
}

void BrowserPane::back() {
    if (!m_view)
        return;
    beginLoad();
    m_view->back();
}

void BrowserPane::forward() {
    if (!m_view)
        return;
    beginLoad();
    m_view->forward();
}

void BrowserPane::reload() {
    if (!m_view)
        return;
    beginLoad();
    m_view->reload();
}

void BrowserPane::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->widget()->setGeometry(rect());
    if (m_failure)
        m_failure->setGeometry(rect());
    if (m_notice)
        m_notice->setGeometry(rect());
}

WebView *BrowserPane::view() {
    if (m_view || m_failure)
        return m_view;
    shareOpenGLContexts();
    QString why;
    for (const QString &path : moduleCandidates()) {
        QLibrary module(path);
        // The module stays loaded for the rest of the run: the view lives in it.
        if (auto create = reinterpret_cast<CreateWebView>(module.resolve(createWebViewSymbol))) {
            m_view = create(this);
            break;
        }
        why = module.errorString();
    }
    if (!m_view) {
        // The pane tells the operator once, in place of the page; the rest of the station is
        // not touched by it.
        m_failure = new QLabel(tr("No web view: %1").arg(why), this);
        m_failure->setWordWrap(true);
        m_failure->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        m_failure->setGeometry(rect());
        m_failure->show();
        return nullptr;
    }
    m_view->onProgress(
        [this](int progress, int progressMax) { emit progressChange(progress, progressMax); });
    m_view->onLoadFailed([this](const QUrl &url, const QString &reason, int httpStatus) {
        // The server's own answer tells more than any page of ours: it stays, under a banner.
        if (httpStatus > 0)
            m_view->showBanner(httpStatusBanner(url.toString(), httpStatus));
        else
            m_view->showHtml(loadFailurePage(url.toString(), reason));
        m_lastFailure = reason;
        emit loadFailed(url.toString(), reason);
    });
    QWidget *w = m_view->widget();
    w->setGeometry(rect());
    w->show();
    return m_view;
}
