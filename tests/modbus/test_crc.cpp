#include "crc16.h"

#include <QTest>

using modbus::CrcPair;

class TestCrc : public QObject {
    Q_OBJECT
private slots:
    void knownVectors_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("hi");
        QTest::addColumn<int>("lo");
        QTest::newRow("digits 1-9") << QByteArray("123456789") << 0x37 << 0x4B;
        QTest::newRow("01 03 00 00 00 01") << QByteArray::fromHex("010300000001") << 0x84 << 0x0A;
        QTest::newRow("06 03 04 73 00 0C") << QByteArray::fromHex("06030473000C") << 0xB4 << 0x93;
        QTest::newRow("start-up request") << QByteArray::fromHex("02030473000C") << 0xB5 << 0x17;
    }
    void knownVectors() {
        QFETCH(QByteArray, data);
        QFETCH(int, hi);
        QFETCH(int, lo);
        const CrcPair pair = modbus::crc16(data);
        QCOMPARE(pair.hi, hi);
        QCOMPARE(pair.lo, lo);
    }

    void frameWithItsOwnCheckBytesGivesZero() {
        for (const char *hex : {"01030000000184 0A", "06030473000CB493", "02030473000CB517"}) {
            const QByteArray frame = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
            QCOMPARE(modbus::crc16(frame), (CrcPair{0, 0}));
        }
    }

    void emptyAndNonPositiveCounts() {
        CrcPair pair{1, 2};
        QVERIFY(modbus::crc16(QByteArray(), 0, pair));
        QCOMPARE(pair, (CrcPair{0xFF, 0xFF}));
        QVERIFY(modbus::crc16(QByteArray("abc"), -5, pair));
        QCOMPARE(pair, (CrcPair{0xFF, 0xFF}));
    }

    void countPastTheEndFailsWithThePartialPair() {
        const QByteArray six = QByteArray::fromHex("010300000001");
        CrcPair pair;
        QVERIFY(!modbus::crc16(six, 8, pair));
        QCOMPARE(pair, (CrcPair{0x84, 0x0A}));
        QVERIFY(!modbus::crc16(QByteArray(), 1, pair));
        QCOMPARE(pair, (CrcPair{0xFF, 0xFF}));
    }

    void tableHoldsThePublishedValues() {
        const auto &t = modbus::crcTable;
        const std::array<int, 8> first{0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41};
        const std::array<int, 8> second{0x00, 0xC0, 0xC1, 0x01, 0xC3, 0x03, 0x02, 0xC2};
        const std::array<int, 8> last{0x82, 0x42, 0x43, 0x83, 0x41, 0x81, 0x80, 0x40};
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(t[i], first[i]);
            QCOMPARE(t[256 + i], second[i]);
            QCOMPARE(t[504 + i], last[i]);
        }
    }
};

QTEST_APPLESS_MAIN(TestCrc)
#include "test_crc.moc"
