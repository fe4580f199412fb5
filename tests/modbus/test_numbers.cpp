#include "numbers.h"

#include <QTest>

class TestNumbers : public QObject {
    Q_OBJECT
private slots:
    void lenient_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "1139" << 1139.0;
        QTest::newRow("decimal") << "12.5" << 12.5;
        QTest::newRow("leading number only") << "12abc" << 12.0;
        QTest::newRow("no number") << "abc" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("blanks anywhere") << " 1 2\t3\n4 " << 1234.0;
        QTest::newRow("exponent") << "1.5E3" << 1500.0;
        QTest::newRow("D exponent") << "2d2" << 200.0;
        QTest::newRow("exponent without digits") << "7e" << 7.0;
        QTest::newRow("negative") << "-1" << -1.0;
        QTest::newRow("fraction only") << ".5" << 0.5;
        QTest::newRow("second point stops") << "1.2.3" << 1.2;
        QTest::newRow("hex") << "&HFF" << 255.0;
        QTest::newRow("hex lower case") << "&hff" << 255.0;
        QTest::newRow("octal") << "&O17" << 15.0;
        QTest::newRow("hex stops at non-digit") << "&H1G" << 1.0;
        QTest::newRow("hex without digits") << "&H" << 0.0;
        QTest::newRow("comma is no decimal point") << "12,5" << 12.0;
        QTest::newRow("carriage return stops") << "1\r2" << 1.0;
    }
    void lenient() {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(modbus::lenientNumber(text), value);
    }

    void strict_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "60" << true << 60.0;
        QTest::newRow("blanks around") << "  9 " << true << 9.0;
        QTest::newRow("decimal") << "6.5" << true << 6.5;
        QTest::newRow("hex") << "&H10" << true << 16.0;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("blank") << "   " << false << 0.0;
        QTest::newRow("letter") << "a" << false << 0.0;
        QTest::newRow("trailing letter") << "5x" << false << 0.0;
        QTest::newRow("inner blank") << "1 0" << false << 0.0;
        QTest::newRow("hex without digits") << "&H" << false << 0.0;
        QTest::newRow("sign alone") << "-" << false << 0.0;
        QTest::newRow("overflow") << "1e999" << false << 0.0;
        QTest::newRow("tab and line feed around") << "\t7\n" << true << 7.0;
        QTest::newRow("carriage return is no blank") << "\r2" << false << 0.0;
        QTest::newRow("no-break space is no blank")
            << QString::fromUtf16(u"\u00a02") << false << 0.0;
    }
    void strict() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(double, value);
        const auto read = modbus::strictNumber(text);
        QCOMPARE(read.has_value(), ok);
        if (ok)
            QCOMPARE(*read, value);
    }

    void roundsHalvesToEven_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("rounded");
        QTest::newRow("12.5") << 12.5 << 12;
        QTest::newRow("13.5") << 13.5 << 14;
        QTest::newRow("6.5") << 6.5 << 6;
        QTest::newRow("7.5") << 7.5 << 8;
        QTest::newRow("-2.5") << -2.5 << -2;
        QTest::newRow("2.4999") << 2.4999 << 2;
        QTest::newRow("int max") << 2147483647.0 << 2147483647;
    }
    void roundsHalvesToEven() {
        QFETCH(double, value);
        QFETCH(int, rounded);
        QCOMPARE(modbus::roundToInt32(value), std::optional<std::int32_t>(rounded));
    }

    void outOfRangeIsNoInteger() {
        QVERIFY(!modbus::roundToInt32(2147483648.0));
        QVERIFY(!modbus::roundToInt32(-2147483649.0));
        QVERIFY(!modbus::roundToInt32(std::numeric_limits<double>::infinity()));
        QVERIFY(!modbus::roundToInt32(std::numeric_limits<double>::quiet_NaN()));
    }
};

QTEST_APPLESS_MAIN(TestNumbers)
#include "test_numbers.moc"
