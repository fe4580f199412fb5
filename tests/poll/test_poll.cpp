#include "fakeclock.h"
#include "faketransport.h"
#include "frames.h"
#include "linetiming.h"
#include "poll.h"

#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <map>

Q_DECLARE_METATYPE(LineSettings)

using namespace modbus;

namespace {

// The window as the poll sees it, in plain values.
struct Window {
    std::array<bool, 4> enabled{true, false, false, false};
    QStringList ids{"2", "60", "5", "6"};
    QString start = "1139";
    QString count = "12";
    std::map<std::pair<int, int>, int> cells; // (row, slot): the values the poll reported
    std::vector<std::pair<int, SlotColour>> colours;

    PollBinding binding() {
        return {[this](int slot) { return enabled[slot]; }, [this](int slot) { return ids[slot]; },
                [this] { return start; }, [this] { return count; },
                [this](int slot, SlotColour c) { colours.emplace_back(slot, c); }};
    }
    // Shows each valid reply as the window does, register r in row r + 1.
    void watch(LinkPoll *poll) {
        QObject::connect(poll, &LinkPoll::slotFinished, poll,
                         [this](int slot, const SlotResult &r) {
                             for (std::size_t i = 0; i < r.registers.size(); ++i)
                                 cells[{int(i) + 1, slot}] = r.registers[i];
                         });
    }
    int cell(int row, int slot) const {
        const auto it = cells.find({row, slot});
        return it == cells.end() ? -1 : it->second;
    }
    bool has(int row, int slot) const { return cells.count({row, slot}) > 0; }
    std::vector<SlotColour> coloursOf(int slot) const {
        std::vector<SlotColour> seen;
        for (auto [s, c] : colours)
            if (s == slot)
                seen.push_back(c);
        return seen;
    }
};

constexpr int testTimeoutMs = 150;
constexpr qint64 ms = FakeClock::ms;
constexpr LineTiming line = lineTiming(stationLine);

QString verdictName(FrameVerdict v) {
    static const char *const names[] = {"Request",    "Valid",       "Exception", "BadCrc",
                                        "WrongSlave", "WrongLength", "Noise",     "Late",
                                        "Echo",       "TimeOut",     "LineBusy",  "Link"};
    return QString::fromLatin1(names[int(v)]);
}

} // namespace

class TestPoll : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeClock> clock;
    FakeTransport *port = nullptr;
    Window window;
    LinkPoll *poll = nullptr;
    std::vector<FrameRecord> records;

    // Runs one pass on the fake clock; false when it does not end within its bound.
    bool runPass() {
        QSignalSpy done(poll, &LinkPoll::finished);
        if (!poll->start())
            return false;
        return clock->runUntil([&] { return !done.isEmpty(); }, poll->passBoundNanos());
    }
    void answerAtOnce() {
        port->onWrite = [this](const QByteArray &r) { port->feed(replyTo(r)); };
    }
    void feedAfter(qint64 nanos, const QByteArray &bytes) {
        clock->after(nanos, [this, bytes] { port->feed(bytes); });
    }
    void recordFrames() {
        connect(poll, &LinkPoll::frame, this,
                [this](const FrameRecord &r) { records.push_back(r); });
    }
    QString verdicts(bool inputOnly = false) const {
        QStringList seen;
        for (const FrameRecord &r : records)
            if (!inputOnly || r.direction == FrameDirection::In)
                seen << verdictName(r.verdict);
        return seen.join(u' ');
    }

private slots:
    void init() {
        clock = std::make_unique<FakeClock>();
        port = new FakeTransport(this);
        port->clock = clock.get();
        port->open();
        window = Window{};
        records.clear();
        poll = new LinkPoll(*port, window.binding(), this, *clock);
        window.watch(poll);
        poll->setReplyTimeout(testTimeoutMs);
    }
    void cleanup() {
        delete poll;
        delete port;
        clock.reset(); // with whatever a test left on it
    }

    void startUpRequestFillsTwelveRows() {
        // The reply comes a byte at a time, each announced separately.
        port->onWrite = [this](const QByteArray &r) {
            const QByteArray reply = replyTo(r);
            for (char b : reply)
                feedAfter(0, QByteArray(1, b));
        };
        const qint64 begin = clock->now();
        QVERIFY(runPass());
        QCOMPARE(port->writes, QByteArrayList{QByteArray::fromHex("02030473000CB517")});
        QCOMPARE(port->writeNanos[0] - begin, line.interFrame.count()); // a line never heard
        for (int r = 1; r <= 12; ++r)
            QCOMPARE(window.cell(r, 0), staticValue(2, 1138 + r));
        QVERIFY(!window.has(13, 0));
        QCOMPARE(window.coloursOf(0), (std::vector{SlotColour::Polling, SlotColour::Idle}));
    }

    void valueBytesAreUnsigned() {
        window.count = "3";
        port->onWrite = [this](const QByteArray &) {
            port->feed(withCrc(QByteArray::fromHex("020306FFFF80000000")));
        };
        QVERIFY(runPass());
        QCOMPARE(window.cell(1, 0), 65535);
        QCOMPARE(window.cell(2, 0), 32768);
        QCOMPARE(window.cell(3, 0), 0);
    }

    void allSlotsInTurnEachIntoItsColumn() {
        window.enabled = {true, true, true, true};
        answerAtOnce();
        QVERIFY(runPass());
        QCOMPARE(port->writes.size(), 4);
        for (int slot = 0; slot < 4; ++slot)
            QCOMPARE(window.cell(1, slot), staticValue(window.ids[slot].toInt(), 1139));
        // At the end all four boxes are idle, the last four colours written.
        const std::vector last(window.colours.end() - 4, window.colours.end());
        for (int slot = 0; slot < 4; ++slot)
            QCOMPARE(last[slot], std::make_pair(slot, SlotColour::Idle));
    }

    void lateReplyIsNeverTakenForTheNextSlot() {
        window.enabled = {true, true, false, false};
        // Slave 2 answers only after its wait is over, inside slave 60's wait; slave 60 answers
        // right after that.
        port->onWrite = [this](const QByteArray &r) {
            if (r[0] == char(60)) {
                port->feed(replyTo(QByteArray::fromHex("02030473000C")));
                port->feed(replyTo(r));
            }
        };
        QVERIFY(runPass());
        QVERIFY(!window.has(1, 0));
        for (int r = 1; r <= 12; ++r)
            QCOMPARE(window.cell(r, 1), staticValue(60, 1138 + r));
        QCOMPARE(window.coloursOf(0),
                 (std::vector{SlotColour::Polling, SlotColour::TimedOut, SlotColour::Idle}));
    }

    void bytesWaitingBeforeARequestAreDiscarded() {
        window.count = "1";
        // A stray reply of the same slave with another value sits in the port before the request.
        port->feedQuietly(withCrc(QByteArray::fromHex("0203020007")));
        port->onWrite = [this](const QByteArray &r) { port->feed(replyTo(r)); };
        QVERIFY(runPass());
        QCOMPARE(window.cell(1, 0), staticValue(2, 1139));
    }

    void exceptionEndsTheWaitAtOnceAndWritesNothing() {
        port->onWrite = [this](const QByteArray &) {
            port->feed(withCrc(QByteArray::fromHex("028302")));
        };
        QSignalSpy results(poll, &LinkPoll::slotFinished);
        const qint64 begin = clock->now();
        QVERIFY(runPass());
        QVERIFY(clock->now() - begin < testTimeoutMs * ms);
        QVERIFY(window.cells.empty());
        const auto result = results.at(0).at(1).value<SlotResult>();
        QCOMPARE(result.outcome, SlotOutcome::Exception);
        QCOMPARE(result.exceptionCode, 2);
        QCOMPARE(window.coloursOf(0),
                 (std::vector{SlotColour::Polling, SlotColour::TimedOut, SlotColour::Idle}));
    }

    void rejectedRepliesWriteNothing_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("endsEarly"); // a reply's length of unusable bytes, then quiet
        QByteArray good = replyTo(QByteArray::fromHex("02030473000C"));
        QByteArray badCrc = good;
        badCrc[5] = char(badCrc[5] ^ 0x40);
        QTest::newRow("bad crc") << badCrc << int(RejectReason::BadCrc) << true;
        // A whole frame of another slave, or a reply's length of noise: the wait ends once the
        // line is quiet after it, wherever the noise sits.
        QTest::newRow("wrong slave") << replyTo(QByteArray::fromHex("05030473000C"))
                                     << int(RejectReason::WrongSlave) << true;
        QTest::newRow("bad crc, then noise")
            << badCrc + QByteArray::fromHex("55") << int(RejectReason::BadCrc) << true;
        QTest::newRow("wrong parity")
            << QByteArray(40, char(0xA5)) << int(RejectReason::Garbage) << true;
        QTest::newRow("wrong byte count") << replyTo(QByteArray::fromHex("02030473000B"))
                                          << int(RejectReason::WrongLength) << false;
        QTest::newRow("short") << good.first(20) << int(RejectReason::WrongLength) << false;
        QTest::newRow("silent") << QByteArray() << int(RejectReason::NoBytes) << false;
        // A two-wire adapter reads the request back; the slave stays silent.
        QTest::newRow("echo only")
            << QByteArray::fromHex("02030473000CB517") << int(RejectReason::NoBytes) << false;
    }
    void rejectedRepliesWriteNothing() {
        QFETCH(QByteArray, reply);
        QFETCH(int, reason);
        QFETCH(bool, endsEarly);
        port->onWrite = [&](const QByteArray &) {
            if (!reply.isEmpty())
                port->feed(reply);
        };
        QSignalSpy results(poll, &LinkPoll::slotFinished);
        QVERIFY(runPass());
        const qint64 took = clock->now() - port->writeNanos.at(0);
        if (endsEarly)
            QVERIFY(took <= line.settle.count()); // quiet long enough after the last byte
        else
            QVERIFY(took >= testTimeoutMs * ms); // waited for the right reply to the end
        QVERIFY(window.cells.empty());
        const auto result = results.at(0).at(1).value<SlotResult>();
        QCOMPARE(result.outcome, SlotOutcome::NoReply);
        QCOMPARE(int(result.reject), reason);
        QCOMPARE(window.coloursOf(0).at(1), SlotColour::TimedOut);
    }

    void zeroRegisters() {
        window.count = "0";
        answerAtOnce();
        QSignalSpy results(poll, &LinkPoll::slotFinished);
        QVERIFY(runPass());
        QCOMPARE(port->writes.at(0), withCrc(QByteArray::fromHex("020304730000")));
        QCOMPARE(results.at(0).at(1).value<SlotResult>().outcome, SlotOutcome::Valid);
        QVERIFY(window.cells.empty());
    }

    // Rows past the grid are the window's to skip (test_window): the poll reports them all.
    void registersPastTheGridAreReported() {
        window.count = "15";
        answerAtOnce();
        QVERIFY(runPass());
        QCOMPARE(window.cell(14, 0), staticValue(2, 1139 + 13));
        QCOMPARE(window.cell(15, 0), staticValue(2, 1139 + 14));
        QVERIFY(!window.has(16, 0));
    }

    void disabledSlotsAndClosedPortSendNothing() {
        window.enabled = {false, false, false, false};
        QVERIFY(runPass());
        QVERIFY(port->writes.isEmpty());
        QCOMPARE(window.colours.size(), std::size_t(4));
        for (auto [slot, colour] : window.colours)
            QCOMPARE(colour, SlotColour::Idle);

        window.enabled = {true, true, false, false};
        window.colours.clear();
        port->close();
        QVERIFY(runPass());
        QVERIFY(port->writes.isEmpty());
        QCOMPARE(window.coloursOf(1), (std::vector{SlotColour::Polling, SlotColour::Idle}));
    }

    void textsThatFormNoRequestSendNothing_data() {
        QTest::addColumn<QString>("slave");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("count");
        for (auto [row, slave, start, count] : {std::array{"slave letter", "x", "1139", "12"},
                                                {"slave 300", "300", "1139", "12"},
                                                {"slave empty", "", "1139", "12"},
                                                {"start 70000", "2", "70000", "12"},
                                                {"start -1", "2", "-1", "12"},
                                                {"count 300", "2", "1139", "300"}})
            QTest::newRow(row) << QString(slave) << QString(start) << QString(count);
    }
    void textsThatFormNoRequestSendNothing() {
        QFETCH(QString, slave);
        QFETCH(QString, start);
        QFETCH(QString, count);
        window.enabled = {true, true, false, false};
        window.ids[0] = slave;
        window.start = start;
        window.count = count;
        answerAtOnce();
        QVERIFY(runPass());
        // Slot 1 shares the register block: with a bad block it sends nothing either.
        const bool blockOk = start == "1139" && count == "12";
        QCOMPARE(port->writes.size(), blockOk ? 1 : 0);
        if (blockOk)
            QCOMPARE(port->writes.at(0), QByteArray::fromHex("3C030473000CB1C9"));
        QCOMPARE(window.coloursOf(0),
                 (std::vector{SlotColour::Polling, SlotColour::TimedOut, SlotColour::Idle}));
    }

    void editsApplyFromTheNextSlot() {
        window.enabled = {true, true, false, false};
        port->onWrite = [this](const QByteArray &r) {
            window.count = "2"; // typed while slot 0 waits
            port->feed(replyTo(r));
        };
        QVERIFY(runPass());
        QCOMPARE(std::uint8_t(port->writes.at(0)[5]), 12);
        QCOMPARE(std::uint8_t(port->writes.at(1)[5]), 2);
    }

    // The port fails under slot 0's wait, or is closed by a handler told of slot 0's reply.
    void portClosingUnderAWaitEndsIt_data() {
        QTest::addColumn<bool>("byHandler");
        QTest::newRow("under the wait") << false;
        QTest::newRow("by a handler") << true;
    }
    void portClosingUnderAWaitEndsIt() {
        QFETCH(bool, byHandler);
        window.enabled = {true, true, true, true};
        poll->setReplyTimeout(10000);
        port->onWrite = [&](const QByteArray &r) {
            if (byHandler)
                return feedAfter(20 * ms, replyTo(r));
            clock->after(20 * ms, [this] { port->fail("device gone"); });
        };
        QList<int> turns;
        connect(poll, &LinkPoll::slotFinished, this, [&](int slot, const SlotResult &) {
            turns << slot;
            if (byHandler)
                port->close();
        });
        QVERIFY(runPass());
        QCOMPARE(clock->now() - port->writeNanos.at(0), 20 * ms);
        QCOMPARE(port->writes.size(), 1);     // the later slots find the port closed
        QCOMPARE(turns, (QList{0, 1, 2, 3})); // each told once
        QCOMPARE(window.coloursOf(0).at(1), byHandler ? SlotColour::Idle : SlotColour::TimedOut);
    }

    void onePassAtATime() {
        window.enabled = {true, true, false, false};
        int outstanding = 0, most = 0;
        port->onWrite = [&](const QByteArray &r) {
            most = std::max(most, ++outstanding);
            QVERIFY(!poll->start()); // a "Test" click while the link polls
            clock->after(10 * ms, [&, r] {
                --outstanding;
                port->feed(replyTo(r));
            });
        };
        QVERIFY(runPass());
        QCOMPARE(port->writes.size(), 2);
        QCOMPARE(most, 1);
    }

    void replyWaitingAtTheDeadlineIsTaken() {
        // The reply is in the port but its announcement has not been delivered yet.
        port->onWrite = [this](const QByteArray &r) { port->feedQuietly(replyTo(r)); };
        QVERIFY(runPass());
        QCOMPARE(window.cell(1, 0), staticValue(2, 1139));
    }

    // Slot 0 (slave 2) answers as the row says, slot 1 (slave 60) at once.
    // Character time and the silence that ends a frame, from the line's settings: 3.5 characters,
    // but a fixed 1.75 ms above 19200 baud. Microseconds, to within one.
    void lineTimingFollowsTheLineSettings_data() {
        QTest::addColumn<LineSettings>("settings");
        QTest::addColumn<double>("characterMicros");
        QTest::addColumn<double>("silenceMicros");
        QTest::newRow("38400 8N1") << LineSettings{} << 260.417 << 1750.0;
        QTest::newRow("19200 8N1") << LineSettings{19200} << 520.833 << 1822.917;
        QTest::newRow("9600 8E1") << LineSettings{9600, 8, true} << 1145.833 << 4010.417;
        QTest::newRow("9600 8N2") << LineSettings{9600, 8, false, 2} << 1145.833 << 4010.417;
    }
    void lineTimingFollowsTheLineSettings() {
        QFETCH(LineSettings, settings);
        QFETCH(double, characterMicros);
        QFETCH(double, silenceMicros);
        const LineTiming t = lineTiming(settings);
        QVERIFY(std::abs(t.character.count() / 1000.0 - characterMicros) < 1);
        QVERIFY(std::abs(t.interFrame.count() / 1000.0 - silenceMicros) < 1);
        QVERIFY(std::abs(t.frame(8).count() / 1000.0 - 8 * characterMicros) < 1);
    }

    void nextRequestWaitsForAQuietLine_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("late"); // fed lateMs after slot 0's time-out
        QTest::addColumn<int>("lateMs");      // without late bytes: when the answer comes (else 5)
        QTest::addColumn<bool>("timesOut");
        QTest::addColumn<qint64>("quietNanos"); // at least this between the last byte and request
        QTest::addColumn<QString>("verdicts");
        const QByteArray good = replyTo(QByteArray::fromHex("02030473000C"));
        QByteArray garbled = good;
        garbled[7] = char(garbled[7] ^ 0x01);
        const qint64 gap = 1'750'000; // 3.5 characters, fixed above 19200 baud
        const qint64 settle = line.settle.count();
        QTest::newRow("valid") << good << QByteArray() << -1 << false << gap
                               << QStringLiteral("Request Valid Request Valid");
        QTest::newRow("exception")
            << withCrc(QByteArray::fromHex("028302")) << QByteArray() << -1 << false << gap
            << QStringLiteral("Request Exception Request Valid");
        // Handed over while the request is still leaving the wire (a fake's speed, or an
        // adapter's timestamps): the request's own end still counts as the line's last traffic.
        QTest::newRow("exception during the request")
            << withCrc(QByteArray::fromHex("028302")) << QByteArray() << 1 << false << gap
            << QStringLiteral("Request Exception Request Valid");
        QTest::newRow("bad crc ends early") << garbled << QByteArray() << -1 << false << gap
                                            << QStringLiteral("Request BadCrc Request Valid");
        QTest::newRow("wrong slave")
            << replyTo(QByteArray::fromHex("05030473000C")) << QByteArray() << -1 << false << gap
            << QStringLiteral("Request WrongSlave Request Valid");
        QTest::newRow("time-out") << QByteArray() << QByteArray() << -1 << true << gap
                                  << QStringLiteral("Request TimeOut Request Valid");
        QTest::newRow("late reply") << QByteArray() << good << 10 << true << gap
                                    << QStringLiteral("Request TimeOut Late Request Valid");
        // A late exception answer is the slave's late reply as well.
        QTest::newRow("late exception")
            << QByteArray() << withCrc(QByteArray::fromHex("028302")) << 10 << true << gap
            << QStringLiteral("Request TimeOut Late Request Valid");
        // Part of a reply, 30 ms late: nothing says when it ends, so the line gets longer.
        QTest::newRow("late fragment") << QByteArray() << good.first(10) << 30 << true << settle
                                       << QStringLiteral("Request TimeOut Late Request Valid");
        // Noise after a time-out is no late reply: slave 2 is not counted late for it.
        QTest::newRow("noise after the time-out")
            << QByteArray() << QByteArray(10, char(0xFF)) << 30 << true << settle
            << QStringLiteral("Request TimeOut Noise Request Valid");
    }
    void nextRequestWaitsForAQuietLine() {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, late);
        QFETCH(int, lateMs);
        QFETCH(bool, timesOut);
        QFETCH(qint64, quietNanos);
        QFETCH(QString, verdicts);
        window.enabled = {true, true, false, false};
        port->onWrite = [&](const QByteArray &r) {
            if (r[0] == char(60))
                return feedAfter(2 * ms, replyTo(r));
            // Slave 2 answers once the request has left the wire, as on a real line: the
            // silence then runs from its reply, not from the station's own request.
            if (!answer.isEmpty())
                feedAfter((late.isEmpty() && lateMs > 0 ? lateMs : 5) * ms, answer);
            if (!late.isEmpty())
                feedAfter((testTimeoutMs + lateMs) * ms, late);
        };
        recordFrames();
        QSignalSpy results(poll, &LinkPoll::slotFinished);
        QSignalSpy lateReplies(poll, &LinkPoll::lateReply);
        QVERIFY(runPass());

        QCOMPARE(port->writes.size(), 2);
        for (int r = 1; r <= 12; ++r) // a late reply of slave 2 is never taken for slave 60's
            QCOMPARE(window.cell(r, 1), staticValue(60, 1138 + r));
        const qint64 sent = port->writeNanos[1];
        const qint64 lastByte = port->lastFeedBefore(sent);
        if (lastByte >= 0)
            QVERIFY2(sent - lastByte >= quietNanos, qPrintable(QString::number(sent - lastByte)));
        const qint64 firstEnd = port->writeNanos[0] + line.frame(8).count();
        QVERIFY2(sent - firstEnd >= line.interFrame.count(),
                 qPrintable(QString::number(sent - firstEnd)));
        const qint64 slot0Micros = results.at(0).at(1).value<SlotResult>().responseMicros;
        if (timesOut) {
            QVERIFY(slot0Micros >= testTimeoutMs * 1000);
            QVERIFY(sent - port->writeNanos[0] >= testTimeoutMs * 1'000'000 + line.guard.count());
        } else {
            QVERIFY(slot0Micros < testTimeoutMs * 1000 / 2);
        }
        QCOMPARE(lateReplies.size(), late.startsWith(char(2)) ? 1 : 0);
        QCOMPARE(this->verdicts(), verdicts);
        for (const FrameRecord &r : records) // stray bytes name no slave, a late reply its own
            if (r.verdict == FrameVerdict::Noise || r.verdict == FrameVerdict::Late)
                QCOMPARE(r.slave, r.verdict == FrameVerdict::Late ? 2 : -1);
        QCOMPARE(records.back().slot, 1);
        QCOMPARE(records.back().registers, 12);
        QCOMPARE(records.back().responseMicros, 2000); // slave 60 answers 2 ms after the request
        QCOMPARE(results.at(1).at(1).value<SlotResult>().responseMicros, 2000);
        const auto second = std::find_if(records.rbegin(), records.rend(), [](const auto &r) {
            return r.verdict == FrameVerdict::Request;
        });
        QVERIFY(second->silenceMicros >= 1750); // 3.5 characters at 38400 baud
    }

    // Slave 2 answers `lateMs` after each of its time-outs, past the plain guard; slave 60
    // answers 30 ms after its request, or never. The late reply is never slave 60's fault, and
    // from the second pass on the guard has learned to wait for it.
    // When the late reply ran into the neighbour's request on the wire, the station hears only
    // garble in the neighbour's wait: the guard still learns from it, without a late reply counted.
    void lateNeighbourIsNeverBlamed_data() {
        QTest::addColumn<bool>("neighbourAnswers");
        QTest::addColumn<bool>("garbledFirst");
        QTest::addColumn<QString>("firstPass");
        QTest::newRow("neighbour answers")
            << true << false << QStringLiteral("Request TimeOut Request Late Valid");
        QTest::newRow("neighbour silent")
            << false << false << QStringLiteral("Request TimeOut Request Late TimeOut");
        QTest::newRow("late reply garbled by the neighbour's request")
            << false << true << QStringLiteral("Request TimeOut Request Noise");
    }
    void lateNeighbourIsNeverBlamed() {
        QFETCH(bool, neighbourAnswers);
        QFETCH(bool, garbledFirst);
        QFETCH(QString, firstPass);
        constexpr int lateMs = 60;
        window.enabled = {true, true, false, false};
        int asked = 0;
        port->onWrite = [&](const QByteArray &r) {
            if (r[0] == char(2))
                feedAfter((testTimeoutMs + lateMs) * ms, garbledFirst && asked++ == 0
                                                             ? QByteArray(replyLength(12), '\xFF')
                                                             : replyTo(r));
            else if (neighbourAnswers)
                feedAfter(30 * ms, replyTo(r));
        };
        QSignalSpy late(poll, &LinkPoll::lateReply);
        recordFrames();
        QSignalSpy results(poll, &LinkPoll::slotFinished);
        QVERIFY(runPass());
        QCOMPARE(verdicts(), firstPass);
        const auto neighbour = results.at(1).at(1).value<SlotResult>();
        QCOMPARE(neighbour.outcome, neighbourAnswers ? SlotOutcome::Valid : SlotOutcome::NoReply);
        QCOMPARE(neighbour.reject, neighbourAnswers ? RejectReason::None
                                   : garbledFirst   ? RejectReason::Garbage
                                                    : RejectReason::NoBytes);
        QCOMPARE(late.count(), garbledFirst ? 0 : 1);
        clock->advance(testTimeoutMs * ms); // whatever is still on its way
        records.clear();
        QVERIFY(runPass());
        QVERIFY2(verdicts().startsWith(QStringLiteral("Request TimeOut Late Request ")),
                 qPrintable(verdicts()));
        const qint64 gap = port->writeNanos[3] - port->writeNanos[2];
        QVERIFY(gap >= (testTimeoutMs + lateMs) * ms + line.interFrame.count() +
                           (garbledFirst ? line.frame(replyLength(12)).count() : 0));
        // The learned guard stays within twice the plain one: a slave later still costs the
        // others no more than that.
        QVERIFY(gap <= testTimeoutMs * ms + 2 * line.guard.count());
    }

    // Slaves 60 and 5 time out; 60's reply comes only inside slave 6's wait, ahead of 6's own.
    void lateReplyIsNamedAfterTheSlaveAsked() {
        window.enabled = {false, true, true, true};
        port->onWrite = [&](const QByteArray &r) {
            if (r[0] == char(60))
                feedAfter(380 * ms, replyTo(r));
            else if (r[0] == char(6))
                feedAfter(10 * ms, replyTo(r));
        };
        recordFrames();
        QVERIFY(runPass());
        QCOMPARE(verdicts(true), QStringLiteral("TimeOut TimeOut Late Valid"));
        QCOMPARE(records.at(records.size() - 2).slave, 60);
        QCOMPARE(window.cell(1, 3), staticValue(6, 1139));
    }

    // Noise every 3 ms, for `babbleMs` or for ever: a slot's turn ends within its bound as "line
    // busy" with nothing sent, and the next slot gets its turn.
    void busyLineEndsTheTurn_data() {
        QTest::addColumn<int>("babbleMs");        // -1: for ever
        QTest::addColumn<QList<int>>("outcomes"); // of slots 0 and 1
        QTest::addColumn<int>("writes");
        const int busy = int(SlotOutcome::LineBusy), valid = int(SlotOutcome::Valid);
        QTest::newRow("for ever") << -1 << QList{busy, busy} << 0;
        QTest::newRow("for 100 ms") << 100 << QList{valid, valid} << 2;
        // The slowest pass there is: four silent slaves, each turn's quiet found only near its
        // end. It still ends within the bound the cycle counts on.
        QTest::newRow("for 120 ms of each turn, slaves silent")
            << -2 << QList{int(SlotOutcome::NoReply), int(SlotOutcome::NoReply)} << 4;
    }
    void busyLineEndsTheTurn() {
        QFETCH(int, babbleMs);
        QFETCH(QList<int>, outcomes);
        QFETCH(int, writes);
        const bool eachTurn = babbleMs == -2;
        window.enabled = {true, true, eachTurn, eachTurn};
        const qint64 begin = clock->now();
        qint64 until = eachTurn ? begin + 120 * ms : -1;
        std::function<void()> babble = [&] {
            if ((babbleMs >= 0 && clock->now() - begin >= babbleMs * ms) ||
                (eachTurn && clock->now() >= until))
                return;
            port->feed(QByteArray(1, char(0xFF)));
            clock->after(3 * ms, babble);
        };
        if (eachTurn) // again from the end of the guard after each time-out
            port->onWrite = [&](const QByteArray &) {
                clock->after(testTimeoutMs * ms + line.guard.count(), [&] {
                    until = clock->now() + 120 * ms;
                    babble();
                });
            };
        else
            answerAtOnce();
        babble();
        recordFrames();
        QList<int> seen;
        connect(poll, &LinkPoll::slotFinished, this, [&](int slot, const SlotResult &r) {
            if (slot < 2)
                seen << int(r.outcome);
        });
        QVERIFY(runPass());
        QCOMPARE(seen, outcomes);
        QCOMPARE(port->writes.size(), writes);
        if (babbleMs == -1) {
            QCOMPARE(clock->now() - begin, 2 * testTimeoutMs * ms); // one bound per slot
            QCOMPARE(window.coloursOf(1),
                     (std::vector{SlotColour::Polling, SlotColour::TimedOut, SlotColour::Idle}));
            QCOMPARE(verdicts(), QStringLiteral("Noise LineBusy Noise LineBusy"));
        }
    }

    // Slave 2's reply as adapters hand it over, behind what may come ahead of it.
    void adapterShapesEndValid_data() {
        QTest::addColumn<QByteArray>("ahead");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<QString>("verdicts");
        const QByteArray echo = QByteArray::fromHex("02030473000CB517");
        const QByteArray lateTail = replyTo(QByteArray::fromHex("3C030473000C")).right(9);
        QTest::newRow("three pieces 16 ms apart")
            << QByteArray() << 3 << 16 << QStringLiteral("Valid");
        QTest::newRow("byte by byte, 1 ms apart")
            << QByteArray() << 29 << 1 << QStringLiteral("Valid");
        QTest::newRow("echo ahead") << echo << 1 << 0 << QStringLiteral("Echo Valid");
        QTest::newRow("echo, then three pieces") << echo << 3 << 16 << QStringLiteral("Echo Valid");
        QTest::newRow("stray byte ahead")
            << QByteArray(1, char(0xFF)) << 1 << 0 << QStringLiteral("Noise Valid");
        QTest::newRow("tail of a late reply ahead")
            << lateTail << 2 << 4 << QStringLiteral("Noise Valid");
    }
    void adapterShapesEndValid() {
        QFETCH(QByteArray, ahead);
        QFETCH(int, pieces);
        QFETCH(int, gapMs);
        QFETCH(QString, verdicts);
        port->onWrite = [&](const QByteArray &r) {
            if (!ahead.isEmpty())
                port->feed(ahead);
            const QByteArray reply = replyTo(r);
            const qsizetype size = (reply.size() + pieces - 1) / pieces;
            for (int p = 0; p < pieces; ++p)
                feedAfter(gapMs * (p + 1) * ms, reply.mid(p * size, size));
        };
        recordFrames();
        QSignalSpy results(poll, &LinkPoll::slotFinished);
        QVERIFY(runPass());
        QCOMPARE(results.at(0).at(1).value<SlotResult>().outcome, SlotOutcome::Valid);
        for (int r = 1; r <= 12; ++r)
            QCOMPARE(window.cell(r, 0), staticValue(2, 1138 + r));
        QCOMPARE(this->verdicts(true), verdicts);
        QCOMPARE(records.back().pieces, pieces);
    }
};

QTEST_GUILESS_MAIN(TestPoll)
#include "test_poll.moc"
