#include "busscan.h"
#include "commissioning.h"
#include "fakeclock.h"
#include "faketransport.h"
#include "frames.h"
#include "linetiming.h"

#include <QSignalSpy>
#include <QTest>

using namespace commission;
using modbus::SlotOutcome;

namespace {

constexpr qint64 ms = FakeClock::ms;

// Holding register a of slave s holds s * 100 + a; input registers hold 40000 + a.
QByteArray replyTo(const QByteArray &request) {
    const bool input = request[1] == 4;
    return ::replyTo(request, [input](int slave, int address) {
        return std::uint16_t(input ? 40000 + address : slave * 100 + address);
    });
}

} // namespace

class TestCommission : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeClock> clock;
    FakeTransport *port = nullptr;
    modbus::LinkPoll *poll = nullptr;
    std::array<bool, 4> enabled{true, false, false, false};
    QList<int> slotReplies; // slotStates whose values the poll reported

    // Slaves 2 and 3 answer, slave 4 answers with exception 2, the others are silent.
    void plant() {
        port->onWrite = [this](const QByteArray &r) {
            const int slave = std::uint8_t(r[0]);
            if (slave == 2 || slave == 3)
                clock->after(4 * ms, [this, r] { port->feed(replyTo(r)); });
            else if (slave == 4)
                clock->after(3 * ms, [this, r] { port->feed(withCrc(r.left(1) + "\x83\x02")); });
        };
    }

private slots:
    void init() {
        clock = std::make_unique<FakeClock>();
        port = new FakeTransport(this);
        port->clock = clock.get();
        port->open();
        enabled = {true, false, false, false};
        slotReplies.clear();
        poll = new modbus::LinkPoll(*port,
                                    {[this](int slot) { return enabled[std::size_t(slot)]; },
                                     [](int slot) { return QString::number(2 + slot); },
                                     [] { return QStringLiteral("1139"); },
                                     [] { return QStringLiteral("2"); },
                                     [](int, modbus::SlotColour) {}},
                                    this, *clock);
        poll->setReplyTimeout(150);
        connect(poll, &modbus::LinkPoll::slotFinished, this,
                [this](int slot, const modbus::SlotResult &r) {
                    if (r.outcome == SlotOutcome::Valid)
                        slotReplies << slot;
                });
        plant();
    }
    void cleanup() {
        delete poll;
        delete port;
        clock.reset();
    }

    void decodesEveryReading_data() {
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<QStringList>("first"); // the first row's texts
        QTest::newRow("plain") << QList{1139, 0}
                               << QStringList{"100",      "1139", "1139",         "0473",
                                              "74645504", "1139", "2.856451e-36", "1.596079e-42"};
        QTest::newRow("negative") << QList{0xFFFF, 0xFFFE}
                                  << QStringList{"100", "65535",  "-1",  "FFFF",
                                                 "-2",  "-65537", "NaN", "NaN"};
        QTest::newRow("float 1.0 high word first")
            << QList{0x3F80, 0x0000} << QStringList{"100",        "16256", "16256", "3F80",
                                                    "1065353216", "16256", "1",     "2.277951e-41"};
        QTest::newRow("float -2.5 low word first")
            << QList{0x0000, 0xC020}
            << QStringList{"100", "0", "0", "0000", "49184", "-1071644672", "6.892146e-41", "-2.5"};
        QTest::newRow("one register has no pair")
            << QList{0x8000} << QStringList{"100", "32768", "-32768", "8000", "", "", "", ""};
    }
    void decodesEveryReading() {
        QFETCH(QList<int>, values);
        QFETCH(QStringList, first);
        std::vector<std::uint16_t> registers(values.begin(), values.end());
        const auto rows = decodeRegisters(100, registers);
        QCOMPARE(rows.size(), registers.size());
        QCOMPARE(decodedTexts(rows.front()), first);
        QCOMPARE(rows.back().address, 100 + int(values.size()) - 1);
        QVERIFY(!rows.back().pair); // the last register starts no pair
    }

    void wrongInputIsRefusedWithAReason_data() {
        QTest::addColumn<QString>("slave");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("count");
        QTest::addColumn<int>("function");
        QTest::addColumn<QString>("error"); // a part of the message; empty: accepted
        QTest::newRow("fine") << "7"
                              << "0x473"
                              << "3" << 4 << "";
        QTest::newRow("slave empty") << ""
                                     << "1139"
                                     << "2" << 3 << "Slave is empty";
        QTest::newRow("slave 0, broadcast") << "0"
                                            << "1139"
                                            << "2" << 3 << "Slave 0 is out";
        QTest::newRow("slave 248") << "248"
                                   << "1139"
                                   << "2" << 3 << "Slave 248 is out";
        QTest::newRow("slave a letter") << "x"
                                        << "1139"
                                        << "2" << 3 << "not a whole number";
        QTest::newRow("count 0") << "7"
                                 << "1139"
                                 << "0" << 3 << "Count 0 is out";
        QTest::newRow("count 126") << "7"
                                   << "1139"
                                   << "126" << 3 << "Count 126 is out";
        QTest::newRow("count 2.5") << "7"
                                   << "1139"
                                   << "2.5" << 3 << "not a whole number";
        QTest::newRow("past 65535") << "7"
                                    << "65535"
                                    << "2" << 3 << "run past register 65535";
        QTest::newRow("function 6") << "7"
                                    << "1139"
                                    << "2" << 6 << "not a register read";
    }
    void wrongInputIsRefusedWithAReason() {
        QFETCH(QString, slave);
        QFETCH(QString, start);
        QFETCH(QString, count);
        QFETCH(int, function);
        QFETCH(QString, error);
        const auto read = oneOffRead(slave, start, count, function, 500);
        if (error.isEmpty()) {
            const auto &q = std::get<modbus::Question>(read);
            QCOMPARE(q.request, (modbus::ReadRequest{7, 0x473, 3, 4}));
            return;
        }
        QVERIFY2(std::get<QString>(read).contains(error), qPrintable(std::get<QString>(read)));
        // The scan's range is read the same way.
        QVERIFY(std::holds_alternative<QString>(scanPlan(u"10", u"9", u"50", u"1139")));
        QVERIFY(std::holds_alternative<QString>(scanPlan(u"1", u"247", u"5", u"1139")));
    }

    void freeSlotPrefersTheSlotAskingTheSlave() {
        std::vector<SlotState> slotStates{{true, "2"}, {false, "60"}, {true, "5"}, {false, ""}};
        QCOMPARE(freeSlot(slotStates, 5), std::optional(2));
        QCOMPARE(freeSlot(slotStates, 9), std::optional(1));
        slotStates[1].enabled = slotStates[3].enabled = true;
        QCOMPARE(freeSlot(slotStates, 9), std::nullopt);
    }

    // Found (valid and exception), silent: every address once, in order, each under the line's
    // rules; the link's slotStates wait meanwhile and resume after.
    void scanFindsWhatAnswersUnderTheLineRules() {
        BusScan scan(*poll);
        QSignalSpy done(&scan, &BusScan::finished);
        QVERIFY(scan.start(std::get<ScanPlan>(scanPlan(u"1", u"6", u"50", u"1139"))));
        QVERIFY(poll->start()); // the cycle's pass goes on, without asking a slot
        QVERIFY(clock->runUntil([&] { return !done.isEmpty(); }, 2000 * ms));
        QCOMPARE(done.at(0).at(0).toBool(), true);
        QCOMPARE(port->writes.size(), 6);
        for (int a = 1; a <= 6; ++a)
            QCOMPARE(port->writes[a - 1], withCrc(char(a) + QByteArray::fromHex("0304730001")));
        QCOMPARE(scan.found().size(), std::size_t(3)); // slave 2 is the slot's
        QCOMPARE(scan.found()[1].slave, 3);
        QCOMPARE(scan.found()[1].answer.registers, std::vector<std::uint16_t>{1439});
        QCOMPARE(scan.found()[1].answer.responseMicros, 4000);
        QCOMPARE(scan.found()[2].slave, 4);
        QCOMPARE(scan.found()[2].answer.outcome, SlotOutcome::Exception);
        // After a time-out the line gets a guard before the next request; after a reply, the
        // frame's silence.
        const auto timing = modbus::lineTiming(stationLine);
        QCOMPARE(port->writeNanos[1] - port->writeNanos[0], 50 * ms + timing.settle.count());
        QCOMPARE(port->writeNanos[2] - port->writeNanos[1], 4 * ms + timing.interFrame.count());
        QVERIFY(slotReplies.isEmpty());
        QVERIFY(!poll->slotsPaused());
        QVERIFY(poll->start());
        QVERIFY(clock->runUntil([&] { return !slotReplies.isEmpty(); }, 500 * ms));
        QCOMPARE(port->writes.back(), withCrc(QByteArray::fromHex("020304730002")));
    }

    void stoppedHalfWay() {
        BusScan scan(*poll);
        QSignalSpy done(&scan, &BusScan::finished);
        connect(&scan, &BusScan::progress, this, [&](int asked) {
            if (asked == 3)
                scan.stop();
        });
        QVERIFY(scan.start(std::get<ScanPlan>(scanPlan(u"1", u"247", u"50", u"1139"))));
        QVERIFY(clock->runUntil([&] { return !done.isEmpty(); }, 2000 * ms));
        QCOMPARE(done.at(0).at(0).toBool(), false);
        QCOMPARE(port->writes.size(), 3);
        clock->advance(500 * ms);
        QCOMPARE(port->writes.size(), 3); // nothing asked after the stop
        QVERIFY(!scan.isRunning());
        QVERIFY(!poll->slotsPaused());
    }

    // A one-off read goes between two slotStates' requests and reaches no slot's values.
    void oneOffReadGoesBetweenSlots() {
        enabled = {true, true, false, false};
        QSignalSpy answers(poll, &modbus::LinkPoll::answered);
        QSignalSpy passDone(poll, &modbus::LinkPoll::finished);
        port->onWrite = [this](const QByteArray &r) {
            if (port->writes.size() == 1)
                QVERIFY(
                    poll->ask(std::get<modbus::Question>(oneOffRead(u"9", u"30", u"2", 4, 100))));
            clock->after(4 * ms, [this, r] { port->feed(replyTo(r)); });
        };
        QVERIFY(poll->start());
        QVERIFY(clock->runUntil([&] { return !passDone.isEmpty(); }, 2000 * ms));
        QCOMPARE(port->writes.size(), 3);
        QCOMPARE(port->writes[1], withCrc(QByteArray::fromHex("0904001E0002")));
        QCOMPARE(answers.size(), 1);
        const auto answer = answers.at(0).at(0).value<modbus::Answer>();
        QCOMPARE(answer.registers, (std::vector<std::uint16_t>{40030, 40031}));
        QCOMPARE(slotReplies, (QList{0, 1}));
    }
};

QTEST_GUILESS_MAIN(TestCommission)
#include "test_commission.moc"
