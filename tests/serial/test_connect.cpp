#include "connect.h"
#include "faketransport.h"

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
