// The browser pane end to end: a real web engine sends snapshot lines to a
// stand-in plant server on loopback.
#include "browserpane.h"
#include "plantserver.h"
#include "uploadurl.h"

#include <QApplication>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {
// The first load starts Chromium, which is slow on a loaded machine.
constexpr int kFirstLoadMs = 20000;
constexpr int kLoadMs = 10000;

const QString kLine = QStringLiteral("1142, 523,,,,,,,,,");

int finishedLoads(const QSignalSpy &progress) {
    int finished = 0;
    for (const QList<QVariant> &report : progress) {
        if (report.at(0).toInt() == -1 && report.at(1).toInt() == 0)
            ++finished;
    }
    return finished;
}

QWebEngineView *viewOf(const BrowserPane &pane) {
    return pane.findChild<QWebEngineView *>();
}
} // namespace

class BrowserPaneTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void blankUntilFirstNavigation();
    void sendsLineToServer();
    void everyCallNavigates();
    void backAndForwardMoveThroughHistory();
    void failedLoadShowsWhy_data();
    void failedLoadShowsWhy();
    void failureOfALoadAskedForWhileAPageStillLoads();

private:
    QString serverAt(const QString &line) const {
        return uploadUrl(QStringLiteral("127.0.0.1:%1").arg(m_server->port()), line);
    }

    PlantServer *m_server = nullptr;
};

void BrowserPaneTest::initTestCase() {
    m_server = new PlantServer(this);
    m_server->start();
    QTRY_VERIFY_WITH_TIMEOUT(m_server->port() != 0 || !m_server->failure().isEmpty(), 10000);
    QVERIFY2(m_server->failure().isEmpty(), qPrintable(m_server->failure()));
}

void BrowserPaneTest::blankUntilFirstNavigation() {
    BrowserPane pane;
    QSignalSpy progress(&pane, &BrowserPane::progressChange);
    pane.resize(400, 300);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));

    pane.back();
    pane.forward();
    pane.reload();

    QVERIFY(!pane.hasView());
    QVERIFY(!viewOf(pane));
    QCOMPARE(progress.count(), 0);
}

void BrowserPaneTest::sendsLineToServer() {
    BrowserPane pane;
    QSignalSpy progress(&pane, &BrowserPane::progressChange);
    pane.resize(400, 300);
    pane.show();

    pane.navigate(serverAt(kLine));
    QVERIFY(pane.hasView());
    QWebEngineView *view = viewOf(pane);
    QVERIFY(view);
    QCOMPARE(view->geometry(), pane.rect());

    QTRY_COMPARE_WITH_TIMEOUT(finishedLoads(progress), 1, kFirstLoadMs);
    QCOMPARE(progress.last(), (QList<QVariant>{-1, 0}));
    for (qsizetype i = 0; i + 1 < progress.count(); ++i) {
        const int percent = progress.at(i).at(0).toInt();
        QVERIFY2(percent >= 0 && percent <= 100, qPrintable(QString::number(percent)));
        QCOMPARE(progress.at(i).at(1).toInt(), 100);
    }

    QTRY_COMPARE_WITH_TIMEOUT(m_server->uploads().count(), 1, kLoadMs);
    const PlantServer::Request request = m_server->uploads().constLast();
    QVERIFY2(request.path.startsWith(QStringLiteral("/telvaro/rtu/masterdata/rare.php?dta=")),
             qPrintable(request.path));
    QVERIFY2(request.path.contains(QStringLiteral("%20")), qPrintable(request.path));
    QVERIFY2(!request.path.contains(QLatin1Char(' ')), qPrintable(request.path));
    QCOMPARE(request.line, kLine);

    // The view keeps filling the pane.
    pane.resize(640, 480);
    QCOMPARE(view->geometry(), pane.rect());
}

void BrowserPaneTest::everyCallNavigates() {
    BrowserPane pane;
    QSignalSpy progress(&pane, &BrowserPane::progressChange);
    pane.show();
    const qsizetype before = m_server->uploads().count();
    const QString url = serverAt(QStringLiteral("7,7"));

    pane.navigate(url);
    QTRY_COMPARE_WITH_TIMEOUT(finishedLoads(progress), 1, kFirstLoadMs);
    pane.navigate(url);
    QTRY_COMPARE_WITH_TIMEOUT(finishedLoads(progress), 2, kLoadMs);
    pane.reload();
    QTRY_COMPARE_WITH_TIMEOUT(finishedLoads(progress), 3, kLoadMs);

    QTRY_COMPARE_WITH_TIMEOUT(m_server->uploads().count(), before + 3, kLoadMs);
    for (qsizetype i = before; i < before + 3; ++i)
        QCOMPARE(m_server->uploads().at(i).line, QStringLiteral("7,7"));
}

void BrowserPaneTest::backAndForwardMoveThroughHistory() {
    BrowserPane pane;
    QSignalSpy progress(&pane, &BrowserPane::progressChange);
    pane.show();
    const qsizetype before = m_server->uploads().count();
    const QUrl first(serverAt(QStringLiteral("1,first")), QUrl::TolerantMode);
    const QUrl second(serverAt(QStringLiteral("2, second")), QUrl::TolerantMode);

    pane.navigate(first.toString());
    QTRY_COMPARE_WITH_TIMEOUT(finishedLoads(progress), 1, kFirstLoadMs);
    QWebEngineView *view = viewOf(pane);
    QCOMPARE(view->url(), first);

    // Nowhere to go yet: stays on the only page.
    pane.back();
    pane.forward();
    QCOMPARE(view->history()->count(), 1);
    QCOMPARE(view->history()->currentItemIndex(), 0);
    QCOMPARE(view->url(), first);

    pane.navigate(second.toString());
    QTRY_COMPARE_WITH_TIMEOUT(finishedLoads(progress), 2, kLoadMs);
    QCOMPARE(view->url(), second);
    QCOMPARE(view->history()->count(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->uploads().count(), before + 2, kLoadMs);
    QCOMPARE(m_server->uploads().at(before).line, QStringLiteral("1,first"));
    QCOMPARE(m_server->uploads().at(before + 1).line, QStringLiteral("2, second"));

    pane.back();
    QTRY_COMPARE_WITH_TIMEOUT(view->url(), first, kLoadMs);
    QTRY_COMPARE_WITH_TIMEOUT(finishedLoads(progress), 3, kLoadMs);
    QCOMPARE(view->history()->currentItemIndex(), 0);

    pane.forward();
    QTRY_COMPARE_WITH_TIMEOUT(view->url(), second, kLoadMs);
    QTRY_COMPARE_WITH_TIMEOUT(finishedLoads(progress), 4, kLoadMs);
    QCOMPARE(view->history()->currentItemIndex(), 1);
}

void BrowserPaneTest::failedLoadShowsWhy_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QStringList>("texts"); // the first is waited for
    // A port that was free a moment ago refuses the connection.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    QTest::newRow("connection refused")
        << uploadUrl(QStringLiteral("127.0.0.1:%1").arg(closedPort), QStringLiteral("<b>1</b>,"))
        << QStringList{"could not be loaded", "REFUSED"};
    // The server's own answer stays, under a banner with the status.
    QTest::newRow("HTTP error status")
        << QStringLiteral("http://127.0.0.1:%1/no/such/page").arg(m_server->port())
        << QStringList{"HTTP status 404", "404 Not Found"};
}

void BrowserPaneTest::failedLoadShowsWhy() {
    QFETCH(QString, url);
    QFETCH(QStringList, texts);
    BrowserPane pane;
    QSignalSpy progress(&pane, &BrowserPane::progressChange);
    pane.show();
    pane.navigate(url);
    QWebEngineView *view = viewOf(pane);
    QVERIFY(view);
    // Answers may come after this test function has returned: they write into shared text.
    const auto text = std::make_shared<QString>();
    QTRY_VERIFY_WITH_TIMEOUT((view->page()->toPlainText([text](const QString &t) { *text = t; }),
                              text->contains(texts.first())),
                             kFirstLoadMs);
    for (const QString &expected : texts)
        QVERIFY2(text->contains(expected, Qt::CaseInsensitive), qPrintable(*text));
    QVERIFY(pane.lastFailure().has_value());
    // The operator's line shows as text, never as markup.
    QVERIFY2(text->contains(QUrl(url, QUrl::TolerantMode).toString()), qPrintable(*text));
    QTRY_COMPARE_WITH_TIMEOUT(progress.last(), (QList<QVariant>{-1, 0}), kLoadMs);
}

// A page still loading when the next load is asked for gives way to it, and the next load's
// failure is told, whenever the older page's rest arrives.
void BrowserPaneTest::failureOfALoadAskedForWhileAPageStillLoads() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QHash<QByteArray, QTcpSocket *> asked; // by path; "/slow" gets half its page, "/next" nothing
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *s = server.nextPendingConnection();
        connect(s, &QTcpSocket::readyRead, s, [&asked, s] {
            const QByteArray path = s->readAll().split(' ').value(1);
            asked.insert(path, s);
            if (path == "/slow")
                s->write(
                    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 99\r\n\r\n<p>");
        });
    });
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
    BrowserPane pane;
    QSignalSpy progress(&pane, &BrowserPane::progressChange);
    pane.show();
    pane.navigate(base + "/slow");
    QTRY_COMPARE_WITH_TIMEOUT(viewOf(pane)->url().path(), QStringLiteral("/slow"), kFirstLoadMs);
    const int ended = finishedLoads(progress);
    pane.navigate(base + "/next");
    QTRY_VERIFY_WITH_TIMEOUT(asked.contains("/next"), kLoadMs);
    asked.value("/slow")->write(QByteArray(96, ' ')); // no longer read once it has given way
    QTRY_VERIFY_WITH_TIMEOUT(finishedLoads(progress) > ended, kLoadMs);
    asked.value("/next")->abort();
    QTRY_VERIFY_WITH_TIMEOUT(pane.lastFailure().has_value(), kLoadMs);
    QVERIFY2(pane.lastFailure()->contains("EMPTY_RESPONSE"), qPrintable(*pane.lastFailure()));
}

QTEST_MAIN(BrowserPaneTest)

#include "tst_browserpane.moc"
