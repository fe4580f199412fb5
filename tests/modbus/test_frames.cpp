#include "frame.h"
#include "frames.h"

#include <QTest>

using namespace modbus;

namespace {

const ReadRequest startUp{2, 1139, 3};

} // namespace

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void requestFrames() {
        QCOMPARE(requestFrame({2, 1139, 12}), QByteArray::fromHex("02030473000CB517"));
        QCOMPARE(requestFrame({1, 0, 1}),
                 QByteArray::fromHex("0103000000018 40A").replace(' ', ""));
    }

    void requestFromTexts_data() {
        QTest::addColumn<QString>("slave");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("count");
        QTest::addColumn<bool>("formed");
        QTest::addColumn<int>("expectSlave");
        QTest::addColumn<int>("expectStart");
        QTest::addColumn<int>("expectCount");
        QTest::newRow("start-up") << "2"
                                  << "1139"
                                  << "12" << true << 2 << 1139 << 12;
        QTest::newRow("slave 6.5") << "6.5"
                                   << "1139"
                                   << "12" << true << 6 << 1139 << 12;
        QTest::newRow("slave 7.5") << "7.5"
                                   << "1139"
                                   << "12" << true << 8 << 1139 << 12;
        QTest::newRow("slave 0") << "0"
                                 << "0"
                                 << "1" << true << 0 << 0 << 1;
        QTest::newRow("count 12.5") << "2"
                                    << "1139"
                                    << "12.5" << true << 2 << 1139 << 12;
        QTest::newRow("count 13.5") << "2"
                                    << "1139"
                                    << "13.5" << true << 2 << 1139 << 14;
        QTest::newRow("count not a number") << "2"
                                            << "1139"
                                            << "x" << true << 2 << 1139 << 0;
        QTest::newRow("largest") << "255"
                                 << "65535"
                                 << "255" << true << 255 << 65535 << 255;
        QTest::newRow("slave letter") << "a"
                                      << "1139"
                                      << "12" << false << 0 << 0 << 0;
        QTest::newRow("slave empty") << ""
                                     << "1139"
                                     << "12" << false << 0 << 0 << 0;
        QTest::newRow("slave 300") << "300"
                                   << "1139"
                                   << "12" << false << 0 << 0 << 0;
        QTest::newRow("slave -1") << "-1"
                                  << "1139"
                                  << "12" << false << 0 << 0 << 0;
        QTest::newRow("count 256") << "2"
                                   << "1139"
                                   << "256" << false << 0 << 0 << 0; // would wrap to 0 on the bus
        QTest::newRow("count 300") << "2"
                                   << "1139"
                                   << "300" << false << 0 << 0 << 0;
        QTest::newRow("start 65536") << "2"
                                     << "65536"
                                     << "12" << false << 0 << 0 << 0;
        QTest::newRow("start 70000") << "2"
                                     << "70000"
                                     << "12" << false << 0 << 0 << 0;
        QTest::newRow("start -1") << "2"
                                  << "-1"
                                  << "12" << false << 0 << 0 << 0;
        QTest::newRow("start huge") << "2"
                                    << "1e20"
                                    << "12" << false << 0 << 0 << 0;
    }
    void requestFromTexts() {
        QFETCH(QString, slave);
        QFETCH(QString, start);
        QFETCH(QString, count);
        QFETCH(bool, formed);
        const auto request = readRequestFromTexts(slave, start, count);
        QCOMPARE(request.has_value(), formed);
        if (!formed)
            return;
        QFETCH(int, expectSlave);
        QFETCH(int, expectStart);
        QFETCH(int, expectCount);
        QCOMPARE(*request, (ReadRequest{std::uint8_t(expectSlave), std::uint16_t(expectStart),
                                        std::uint8_t(expectCount)}));
    }

    void validReplyGivesItsValues() {
        const auto check = checkReply(readReply(2, {0xFFFF, 0x8000, 0}), startUp);
        QCOMPARE(check.status, ReplyStatus::Valid);
        QCOMPARE(check.values, (std::vector<std::uint16_t>{65535, 32768, 0}));
    }

    void partialReplyIsIncomplete() {
        const QByteArray full = readReply(2, {1, 2, 3});
        for (int n = 0; n < full.size(); ++n)
            QCOMPARE(checkReply(full.first(n), startUp).status, ReplyStatus::Incomplete);
    }

    void rejectedReplies_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("reason");
        QByteArray badCrc = readReply(2, {1, 2, 3});
        badCrc[4] = char(badCrc[4] ^ 0x01);
        QTest::newRow("bad crc") << badCrc << int(RejectReason::BadCrc);
        QTest::newRow("wrong slave") << readReply(9, {1, 2, 3}) << int(RejectReason::WrongSlave);
        QTest::newRow("too few registers")
            << readReply(2, {1, 2}) << int(RejectReason::WrongLength);
        QTest::newRow("too many registers")
            << readReply(2, {1, 2, 3, 4}) << int(RejectReason::WrongLength);
        QTest::newRow("byte count off, length and crc right")
            << withCrc(QByteArray::fromHex("020307000100020003")) << int(RejectReason::WrongLength);
        QTest::newRow("short") << readReply(2, {1, 2, 3}).first(7)
                               << int(RejectReason::WrongLength);
        QTest::newRow("function 4")
            << withCrc(QByteArray::fromHex("020406000100020003")) << int(RejectReason::Garbage);
        QTest::newRow("noise") << QByteArray::fromHex("55aa55aa") << int(RejectReason::Garbage);
        QTest::newRow("nothing") << QByteArray() << int(RejectReason::NoBytes);
    }
    void rejectedReplies() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, reason);
        QCOMPARE(checkReply(bytes, startUp).status, ReplyStatus::Incomplete);
        QCOMPARE(int(classifyRejected(bytes, startUp)), reason);
    }

    void replyAfterForeignBytesIsFound() {
        // A late reply of another slave, then noise, then the one asked for.
        const QByteArray bytes =
            readReply(9, {7, 7, 7}) + QByteArray::fromHex("0203") + readReply(2, {10, 20, 30});
        const auto check = checkReply(bytes, startUp);
        QCOMPARE(check.status, ReplyStatus::Valid);
        QCOMPARE(check.values, (std::vector<std::uint16_t>{10, 20, 30}));
    }

    // Bytes ending in a frame shaped as the polled slave's reply, but with a wrong CRC, end the
    // wait early; anything else does not.
    void garbledReply_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("garbled");
        QByteArray bad = readReply(2, {1, 2, 3});
        bad[4] = char(bad[4] ^ 0x01);
        QByteArray foreign = readReply(9, {1, 2, 3});
        foreign[4] = char(foreign[4] ^ 0x01);
        QTest::newRow("polled slave, bad crc") << bad << true;
        QTest::newRow("after noise") << QByteArray::fromHex("55") + bad << true;
        QTest::newRow("another slave, bad crc") << foreign << false;
        QTest::newRow("valid") << readReply(2, {1, 2, 3}) << false;
        QTest::newRow("one byte short") << bad.first(bad.size() - 1) << false;
        QTest::newRow("wrong byte count")
            << withCrc(QByteArray::fromHex("020307000100020003")) << false;
    }
    void garbledReply() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, garbled);
        QCOMPARE(endsWithGarbledReply(bytes, startUp), garbled);
    }

    void exceptionReply() {
        const auto check = checkReply(withCrc(QByteArray::fromHex("028302")), startUp);
        QCOMPARE(check.status, ReplyStatus::Exception);
        QCOMPARE(check.exceptionCode, 2);
        QByteArray corrupted = withCrc(QByteArray::fromHex("028302"));
        corrupted[2] = 3;
        QCOMPARE(checkReply(corrupted, startUp).status, ReplyStatus::Incomplete);
        QCOMPARE(checkReply(withCrc(QByteArray::fromHex("098302")), startUp).status,
                 ReplyStatus::Incomplete);
    }

    void zeroAndLargeCounts() {
        QCOMPARE(checkReply(readReply(2, {}), ReadRequest{2, 0, 0}).status, ReplyStatus::Valid);
        // 128 registers need a byte count of 256, which no frame can carry.
        std::vector<std::uint16_t> many(128, 1);
        QCOMPARE(checkReply(readReply(2, many), ReadRequest{2, 0, 128}).status,
                 ReplyStatus::Incomplete);
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "test_frames.moc"
