#include "connect.h"
#include "faketransport.h"
#include "portkeeper.h"

#include <QSignalSpy>
#include <QTest>

using links::connectCaption;
using links::connectClick;
using links::disconnectCaption;

class TestConnect : public QObject {
    Q_OBJECT
private slots:
    void opensThenCloses() {
        FakeTransport port;
        QCOMPARE(connectClick(connectCaption, "5", port), disconnectCaption);
        QVERIFY(port.isOpen());
        QCOMPARE(port.portNumber(), 5);
        QCOMPARE(connectClick(disconnectCaption, "7", port), connectCaption);
        QVERIFY(!port.isOpen());
        QCOMPARE(port.portNumber(), 5); // the box is read only when opening
    }

    void failedOpenLeavesConnect() {
        FakeTransport port;
        port.openSucceeds = false;
        QCOMPARE(connectClick(connectCaption, "5", port), connectCaption);
        QCOMPARE(port.opens, 1);
    }

    void portTextThatIsNoWholeNumberKeepsThePreviousPort_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::newRow("letters") << "COM3" << 10;
        QTest::newRow("empty") << "" << 10;
        QTest::newRow("zero") << "0" << 10;
        QTest::newRow("past 16 bits") << "40000" << 10;
        QTest::newRow("rounded 3.5") << "3.5" << 4;
        QTest::newRow("blanks around") << " 12 " << 12;
    }
    void portTextThatIsNoWholeNumberKeepsThePreviousPort() {
        QFETCH(QString, text);
        QFETCH(int, port);
        FakeTransport link;
        link.setPortNumber(10);
        QCOMPARE(connectClick(connectCaption, text, link), disconnectCaption);
        QCOMPARE(link.portNumber(), port);
    }

    void staleCaptionIsPutRightWithoutOpenOrClose() {
        FakeTransport port;
        port.open();
        const int opens = port.opens;
        QCOMPARE(connectClick(connectCaption, "5", port), disconnectCaption);
        QVERIFY(port.isOpen());
        port.close();
        QCOMPARE(connectClick(disconnectCaption, "5", port), connectCaption);
        QCOMPARE(port.opens, opens);
    }

    void otherCaptionsOnlyTellTheState() {
        FakeTransport port;
        QCOMPARE(connectClick("connect", "5", port), connectCaption);
        QCOMPARE(port.opens, 0);
    }

    // A port the operator wants open is tried until it opens, however it went missing, on a
    // back-off; "DisConnect" ends the tries, and the next "Connect" starts them again.
    void closedPortsAreKeptTrying_data() {
        QTest::addColumn<bool>("openAtFirst"); // false: the first open already failed
        QTest::addColumn<QString>("why");
        QTest::addColumn<bool>("operatorDisconnects");
        QTest::newRow("device appears late") << false << "/dev/ttyUSB0: No such file" << false;
        QTest::newRow("held, then let go") << false << "in use by process 7 (minicom)" << false;
        QTest::newRow("pulled, then back") << true << "/dev/ttyUSB0: No such file" << false;
        QTest::newRow("DisConnect while it is missing") << false << "No such file" << true;
        QTest::newRow("DisConnect after a pull") << true << "No such file" << true;
    }
    void closedPortsAreKeptTrying() {
        QFETCH(bool, openAtFirst);
        QFETCH(QString, why);
        QFETCH(bool, operatorDisconnects);
        constexpr int unitMs = 20;
        FakeTransport port;
        PortKeeper keeper(port, nullptr, unitMs);
        QSignalSpy failed(&keeper, &PortKeeper::tryFailed);
        QSignalSpy reopened(&keeper, &PortKeeper::reopened);
        port.openSucceeds = openAtFirst;
        port.openError = why;
        QCOMPARE(connectClick(connectCaption, "5", port),
                 openAtFirst ? disconnectCaption : connectCaption);
        keeper.operatorConnected();
        QCOMPARE(keeper.isRetrying(), !openAtFirst);
        if (openAtFirst) {
            port.openSucceeds = false;
            port.fail("device removed");
            QVERIFY(keeper.isLost());
        }
        QVERIFY(keeper.nextTry().isValid());
        QCOMPARE(keeper.lastError(), openAtFirst ? QStringLiteral("device removed") : why);
        if (operatorDisconnects) {
            QCOMPARE(connectClick(connectCaption, "5", port), connectCaption); // one more try
            keeper.operatorConnected();
            keeper.operatorDisconnected();
            const int opens = port.opens;
            QTest::qWait(3 * unitMs);
            QCOMPARE(port.opens, opens);
            QVERIFY(!keeper.isRetrying() && !keeper.nextTry().isValid());
            return;
        }
        // Six failed tries: one a unit for five, then two units apart; the reason once.
        QList<qint64> gaps; // from each failed try to the next one
        connect(&keeper, &PortKeeper::tryFailed, this,
                [&] { gaps << keeper.lastTry().msecsTo(keeper.nextTry()); });
        while (failed.size() < 6)
            QVERIFY(failed.wait(10 * unitMs));
        QVERIFY2(
            gaps.size() == 6 && gaps[3] < 2 * unitMs && gaps[4] >= 2 * unitMs,
            qPrintable(QString::number(gaps.value(3)) + ", " + QString::number(gaps.value(4))));
        QCOMPARE(failed.at(0).at(0).toString(), why);
        QCOMPARE(failed.at(0).at(1).toBool(), openAtFirst); // a pull's reason was not this one
        QVERIFY(!failed.at(1).at(1).toBool());
        const qint64 gap = keeper.lastTry().msecsTo(keeper.nextTry());
        QVERIFY2(gap >= 2 * unitMs && gap < 3 * unitMs, qPrintable(QString::number(gap)));
        port.openSucceeds = true;
        QVERIFY(reopened.wait(10 * unitMs));
        QVERIFY(port.isOpen() && !keeper.isRetrying() && !keeper.isLost());
        QCOMPARE(failed.size(), 6);
    }

    void portNumbersNameDevices() {
        qputenv("RTU_STATION_PORTS", "/tmp/plant/COM%1");
        QCOMPARE(portDevice(5), QStringLiteral("/tmp/plant/COM5"));
        qunsetenv("RTU_STATION_PORTS");
#ifdef Q_OS_WIN
        QCOMPARE(portDevice(5), QStringLiteral("COM5"));
#else
        QCOMPARE(portDevice(5), QStringLiteral("/dev/ttyS4"));
#endif
    }
};

QTEST_GUILESS_MAIN(TestConnect)
#include "test_connect.moc"
