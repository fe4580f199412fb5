// The address a snapshot line is sent to, and where the plant server is found.
#include "uploadurl.h"

#include <QTest>

class UploadUrlTest : public QObject {
    Q_OBJECT

private slots:
    void init() { qunsetenv("RTU_STATION_SERVER"); }
    void cleanup() { qunsetenv("RTU_STATION_SERVER"); }

    void lineGoesInUnchanged_data();
    void lineGoesInUnchanged();
    void serverDefaultsToLocalhost();
    void serverFromEnvironment();
};

void UploadUrlTest::lineGoesInUnchanged_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("url");

    QTest::newRow("empty line") << "localhost"
                                << ""
                                << "http://localhost/telvaro/rtu/masterdata/rare.php?dta=";
    QTest::newRow("blanks and commas")
        << "localhost"
        << "1142, 523,,,,,,,,,"
        << "http://localhost/telvaro/rtu/masterdata/rare.php?dta=1142, 523,,,,,,,,,";
    QTest::newRow("server with port")
        << "10.0.0.5:8080"
        << "12,-3.5"
        << "http://10.0.0.5:8080/telvaro/rtu/masterdata/rare.php?dta=12,-3.5";
    QTest::newRow("characters a browser would encode")
        << "plant"
        << "a&b=c#d%20"
        << "http://plant/telvaro/rtu/masterdata/rare.php?dta=a&b=c#d%20";
}

void UploadUrlTest::lineGoesInUnchanged() {
    QFETCH(QString, server);
    QFETCH(QString, line);
    QFETCH(QString, url);
    QCOMPARE(uploadUrl(server, line), url);
}

void UploadUrlTest::serverDefaultsToLocalhost() {
    QCOMPARE(serverAddress(), QStringLiteral("localhost"));
    qputenv("RTU_STATION_SERVER", "");
    QCOMPARE(serverAddress(), QStringLiteral("localhost"));
}

void UploadUrlTest::serverFromEnvironment() {
    qputenv("RTU_STATION_SERVER", "scada.plant.local:8081");
    QCOMPARE(serverAddress(), QStringLiteral("scada.plant.local:8081"));
    qputenv("RTU_STATION_SERVER", "192.168.4.20");
    QCOMPARE(serverAddress(), QStringLiteral("192.168.4.20"));
}

QTEST_GUILESS_MAIN(UploadUrlTest)
#include "tst_uploadurl.moc"
