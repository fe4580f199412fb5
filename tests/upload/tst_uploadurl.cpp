// The address a snapshot line is sent to, and where the plant server is found.
#include "failurepage.h"
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
    void serverSettingChecked_data();
    void serverSettingChecked();
    void failurePagesEscapeTheirText();
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

void UploadUrlTest::serverSettingChecked_data() {
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("because"); // in the reason given, when not empty
    const auto row = [](const char *name, const char *setting, const char *server, bool ok,
                        const char *because = "") {
        QTest::newRow(name) << QByteArray(setting) << QString::fromLatin1(server) << ok
                            << QString::fromLatin1(because);
    };
    row("host name", "plant-web", "plant-web", true);
    row("dotted host with port", "scada.plant.local:8081", "scada.plant.local:8081", true);
    row("IPv4 with port", "192.168.4.20:65535", "192.168.4.20:65535", true);
    row("IPv6 in brackets", "[::1]:8080", "[::1]:8080", true);
    row("IPv6 without port", "[fe80::1]", "[fe80::1]", true);
    row("blanks around are trimmed", " \tplant-web:80 \n", "plant-web:80", true);
    row("only blanks: the default", "   ", "localhost", true);
    row("blank inside", "plant web", "plant web", false);
    row("path", "plant/x", "plant/x", false, "holds \"/\"");
    row("query", "plant?q=", "plant?q=", false, "holds \"?\"");
    row("fragment", "#x", "#x", false);
    // "op@plant" would send the line to plant, with op as a user name.
    row("user", "op@plant", "op@plant", false, "holds \"@\"");
    row("user with port", "op@plant:8080", "op@plant:8080", false, "holds \"@\"");
    row("backslash", "plant\\x", "plant\\x", false, "holds \"\\\"");
    row("port 0", "plant:0", "plant:0", false);
    row("port too high", "plant:65536", "plant:65536", false);
    row("port not a number", "plant:http", "plant:http", false);
    row("empty port", "plant:", "plant:", false);
    row("port without host", ":8080", ":8080", false);
    row("empty brackets", "[]:8080", "[]:8080", false);
    row("IPv6 without brackets", "::1", "::1", false);
    row("unclosed bracket", "[::1:8080", "[::1:8080", false);
    row("bad IPv4", "192.168.4.256", "192.168.4.256", false, "above 255");
    row("IPv4 with zeros", "10.0.0.0:8080", "10.0.0.0:8080", true);
    row("IPv4 with 255", "192.168.255.255", "192.168.255.255", true);
    row("octal part", "127.0.0.010:18080", "127.0.0.010:18080", false, "octal number (8)");
    row("hexadecimal part", "0x7f.0.0.10", "0x7f.0.0.10", false, "hexadecimal");
    row("fewer than four parts", "127.1", "127.1", false, "not four numbers");
    row("one number", "2130706433", "2130706433", false, "not four numbers");
    row("host name ending in a number", "plant.7", "plant.7", false, "read as an IPv4");
    row("port the engine refuses", "127.0.0.1:1", "127.0.0.1:1", false, "refuses port 1");
    row("IRC port", "plant-web:6667", "plant-web:6667", false, "refuses port 6667");
    row("label starting with a dash", "-plant", "-plant", false);
}

void UploadUrlTest::serverSettingChecked() {
    QFETCH(QByteArray, setting);
    QFETCH(QString, server);
    QFETCH(bool, accepted);
    QFETCH(QString, because);
    qputenv("RTU_STATION_SERVER", setting);
    QCOMPARE(serverAddress(), server);
    const auto problem = serverAddressProblem(server);
    QVERIFY2(problem.has_value() != accepted, qPrintable(problem.value_or("accepted")));
    QVERIFY2(problem.value_or(QString()).contains(because), qPrintable(problem.value_or("")));
}

void UploadUrlTest::failurePagesEscapeTheirText() {
    const QString url = uploadUrl("plant", "<script>x</script>&");
    const QString page = loadFailurePage(url, "refused <now>");
    QVERIFY(page.contains("dta=&lt;script&gt;x&lt;/script&gt;&amp;"));
    QVERIFY(page.contains("refused &lt;now&gt;"));
    QVERIFY(!page.contains("<script>"));
    const QString setting = serverSettingPage("<i>", "it holds \"<b>\"");
    QVERIFY(!setting.contains("<i>") && !setting.contains("<b>"));
    QVERIFY(setting.contains("&lt;i&gt;") && setting.contains("&lt;b&gt;"));
    QVERIFY(serverSettingPage("plant%2", "bad").contains("<code>plant%2</code>: bad."));
}

QTEST_GUILESS_MAIN(UploadUrlTest)
#include "tst_uploadurl.moc"
