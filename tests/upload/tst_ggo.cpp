// "GGO" on the station's own window: the snapshot line goes to a stand-in plant server through
// the browser pane, and the progress label and bar follow the load.
#include "browserpane.h"
#include "faketransport.h"
#include "form1.h"
#include "plantserver.h"
#include "progressbar.h"

#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>
#include <QWindow>

namespace {
constexpr int firstLoadMs = 20000; // the first load starts Chromium
constexpr int loadMs = 10000;
} // namespace

class TestGgo : public QObject {
    Q_OBJECT

    PlantServer *server = nullptr;
    QTemporaryDir dir;
    std::unique_ptr<Form1> form;

    QString base() const {
        return QStringLiteral("http://127.0.0.1:%1/telvaro/rtu/masterdata/rare.php?dta=")
            .arg(server->port());
    }
    QWebEngineView *view() const { return form->WebBrowser1->findChild<QWebEngineView *>(); }
    bool upload(int timeoutMs) {
        QSignalSpy progress(form->WebBrowser1, &BrowserPane::progressChange);
        form->Command5->click();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            for (const auto &report : progress)
                if (report.at(0).toInt() == -1)
                    return true;
            progress.wait(int(timeoutMs - clock.elapsed()));
        }
        return false;
    }

private slots:
    void initTestCase() {
        server = new PlantServer(this);
        server->start();
        QTRY_VERIFY_WITH_TIMEOUT(server->port() != 0 || !server->failure().isEmpty(), 10000);
        QVERIFY2(server->failure().isEmpty(), qPrintable(server->failure()));
        qputenv("RTU_STATION_SERVER",
                QByteArray("127.0.0.1:") + QByteArray::number(server->port()));
        form = std::make_unique<Form1>(
            std::array<SerialTransport *, 2>{new FakeTransport, new FakeTransport},
            Form1Options{dir.filePath("mwRARE.csv")});
        form->Timer2->stop();
        form->show();
    }
    void cleanupTestCase() { form.reset(); }

    void historyButtonsBeforeTheFirstUploadDoNothing() {
        form->Command2->click();
        form->Command1->click();
        form->Command3->click();
        QVERIFY(!form->WebBrowser1->hasView());
        QCOMPARE(form->Text1->text(), QStringLiteral("Text1"));
        QCOMPARE(form->Label5->text(), QStringLiteral("Label5"));
    }

    void emptyLineSendsAnEmptyValue() {
        // The first page leaves the window as it is: the same native window (no flicker) and
        // raster composition. This tells only on a display (upload_ggo_x11): offscreen, nothing
        // is composed with OpenGL in any case.
        const WId window = form->winId();
        QVERIFY(upload(firstLoadMs));
        QCOMPARE(form->winId(), window);
        QCOMPARE(form->windowHandle()->surfaceType(), QSurface::RasterSurface);
        QCOMPARE(form->Text1->text(), base());
        QTRY_COMPARE_WITH_TIMEOUT(server->uploads().size(), 1, loadMs);
        QCOMPARE(server->uploads().last().line, QString());
        QCOMPARE(form->Label5->text(), QStringLiteral("Done"));
        QVERIFY(!form->ProgressBar1->isVisible());
        QCOMPARE(form->ProgressBar1->fraction(), 100.0f);
    }

    void lineGoesOutUnchanged() {
        const QString line = QStringLiteral("1142, 523,,,,,,,,,");
        form->txtPrint->setText(line);
        QVERIFY(upload(loadMs));
        QCOMPARE(form->Text1->text(), base() + line);
        QTRY_COMPARE_WITH_TIMEOUT(server->uploads().size(), 2, loadMs);
        QCOMPARE(server->uploads().last().line, line);
        QVERIFY(server->uploads().last().path.contains("dta=1142,%20523,,,,,,,,,"));
        // The same line again is a request of its own.
        QVERIFY(upload(loadMs));
        QTRY_COMPARE_WITH_TIMEOUT(server->uploads().size(), 3, loadMs);
    }

    void backAndForwardMoveBetweenUploads() {
        form->txtPrint->setText(QStringLiteral("1142, 7,,,,,,,,,"));
        QVERIFY(upload(loadMs));
        const QUrl last = view()->url();
        form->Command2->click(); // Back
        QTRY_VERIFY_WITH_TIMEOUT(view()->url() != last, loadMs);
        QVERIFY(view()->url().toString().contains("523"));
        form->Command1->click(); // Forward
        QTRY_COMPARE_WITH_TIMEOUT(view()->url(), last, loadMs);
        form->Command4->click(); // Stop: nothing
        QCOMPARE(view()->url(), last);
    }

    // A failed load never reads "Done"; "Refres" then asks the failed address again, and
    // reaches the server once it is up.
    void refresRetriesAFailedLoad() {
        QTcpServer late;
        QVERIFY(late.listen(QHostAddress::LocalHost));
        const quint16 port = late.serverPort();
        late.close(); // refused for now
        const QString url = QStringLiteral("http://127.0.0.1:%1/telvaro/rtu/masterdata/"
                                           "rare.php?dta=9,retried")
                                .arg(port);
        QSignalSpy progress(form->WebBrowser1, &BrowserPane::progressChange);
        form->WebBrowser1->navigate(url);
        QTRY_COMPARE_WITH_TIMEOUT(form->Label5->text(), QStringLiteral("Failed"), loadMs);
        QVERIFY2(form->Label5->toolTip().contains("REFUSED"), qPrintable(form->Label5->toolTip()));
        // The station's page that tells of the failure loads too; the label stays.
        QTRY_VERIFY_WITH_TIMEOUT(view()->url().scheme() == "data" && progress.last().at(0) == -1,
                                 loadMs);
        QCOMPARE(form->Label5->text(), QStringLiteral("Failed"));

        QVERIFY(late.listen(QHostAddress::LocalHost, port));
        QByteArray asked;
        connect(&late, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *s = late.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, this, [&asked, s] {
                asked += s->readAll();
                if (asked.contains("\r\n\r\n"))
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n"
                             "Connection: close\r\n\r\nok");
            });
        });
        form->Command3->click(); // Refres
        QTRY_VERIFY_WITH_TIMEOUT(
            asked.startsWith("GET /telvaro/rtu/masterdata/rare.php?dta=9,retried"), loadMs);
        QTRY_COMPARE_WITH_TIMEOUT(form->Label5->text(), QStringLiteral("Done"), loadMs);
        QVERIFY(form->Label5->toolTip().isEmpty());
    }
};

QTEST_MAIN(TestGgo)
#include "tst_ggo.moc"
