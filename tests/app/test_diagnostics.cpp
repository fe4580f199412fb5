#include "capturefile.h"
#include "diagnostics.h"
#include "faketransport.h"
#include "form1.h"
#include "frames.h"
#include "portkeeper.h"
#include "readinggrid.h"
#include "slotdescription.h"
#include "slotstats.h"
#include "traffic.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// The reply to a request: the registers read hold 1, 2, 3... in order; under `slave` when given.
QByteArray numberedReply(const QByteArray &request, int slave = -1) {
    const int start = readAsked(request).start;
    return replyTo(
        request, [start](int, int address) { return std::uint16_t(address - start + 1); }, slave);
}

enum class Answer { Valid, Late, BadCrc, WrongSlave, Exception, Silent };

} // namespace

class TestDiagnostics : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    FakeTransport *port0 = nullptr;
    std::unique_ptr<Form1> form;

    bool pollOnce() {
        QSignalSpy done(form->poll(0), &modbus::LinkPoll::finished);
        return form->poll(0)->start() && done.wait(3000);
    }

private slots:
    void init() {
        // Every row of the traffic is kept: the link events among them.
        qputenv("RTU_STATION_TRAFFIC", QFile::encodeName(dir.filePath("traffic.tsv")));
        port0 = new FakeTransport;
        form = std::make_unique<Form1>(std::array<SerialTransport *, 2>{port0, new FakeTransport},
                                       Form1Options{dir.filePath("mwRARE.csv"), 100});
        form->Timer2->stop();
    }
    void cleanup() { form.reset(); }

    void countsFollowWhatTheSlaveDid() {
        // Each late reply comes in pieces, as an adapter hands it over: one late reply each.
        std::vector<Answer> script{Answer::Valid,      Answer::Late, Answer::BadCrc,
                                   Answer::WrongSlave, Answer::Late, Answer::Exception,
                                   Answer::Silent,     Answer::Valid};
        std::size_t next = 0;
        bool lateArrived = true;
        port0->onWrite = [&](const QByteArray &r) {
            switch (script.at(next++)) {
            case Answer::Valid:
                port0->feed(numberedReply(r));
                break;
            case Answer::Late:
                lateArrived = false;
                QTimer::singleShot(150, port0, [&, r] { port0->feed(numberedReply(r).left(1)); });
                QTimer::singleShot(155, port0, [&, r] { port0->feed(numberedReply(r).mid(1, 6)); });
                QTimer::singleShot(160, port0, [&, r] {
                    port0->feed(numberedReply(r).mid(7));
                    lateArrived = true;
                });
                break;
            case Answer::BadCrc: {
                QByteArray bad = numberedReply(r);
                bad[4] = char(bad[4] ^ 0x10);
                port0->feed(bad);
                break;
            }
            case Answer::WrongSlave:
                port0->feed(numberedReply(r, 99));
                break;
            case Answer::Exception:
                port0->feed(withCrc(QByteArray::fromHex("028304")));
                break;
            case Answer::Silent:
                break;
            }
        };
        for (std::size_t i = 0; i < script.size(); ++i) {
            QVERIFY(pollOnce());
            // Between polls nothing is outstanding: the late reply is dropped when it comes.
            QTRY_VERIFY_WITH_TIMEOUT(lateArrived, 1000);
        }
        const auto &s = form->diagnostics()->stats(0, 0);
        QCOMPARE(s.requests, 8u);
        QCOMPARE(s.valid, 2u);
        QCOMPARE(s.timeouts, 3u); // the late replies and the silent one
        QCOMPARE(s.late, 2u);
        QCOMPARE(s.badCrc, 1u);
        QCOMPARE(s.wrongSlave, 1u);
        QCOMPARE(s.exceptions, 1u);
        QCOMPARE(s.lastExceptionCode, 4);
        QVERIFY(s.lastResponseMicros >= 0 && s.lastResponseMicros < 100000);
        QVERIFY(s.lastValid.isValid());
        QVERIFY(!s.failingSince.isValid());
        const QString tip = form->cheAID[0]->toolTip();
        QVERIFY2(tip.contains("Requests: 8, valid replies: 2"), qPrintable(tip));
        QVERIFY2(tip.contains("last code 4"), qPrintable(tip));
        QCOMPARE(form->tabel->item(0, 3)->toolTip(), tip);
        // The reset menu and the trend reach the slot of the column clicked, and only a slot's:
        // columns 3..6 are link 0's four slots, 7..10 link 1's.
        for (int column = 0; column < ReadingGrid::columns; ++column) {
            const auto slot = Diagnostics::slotOfColumn(column);
            QCOMPARE(slot.has_value(), column >= 3 && column <= 10);
            if (slot)
                QCOMPARE(*slot, (std::pair{column / 7, (column - 3) % 4}));
        }

        form->diagnostics()->reset(0, 0);
        QCOMPARE(form->diagnostics()->stats(0, 0).requests, 0u);
        QVERIFY(form->cheAID[0]->toolTip().contains("Requests: 0"));
    }

    void everyFailureStartsFailingSince_data() {
        QTest::addColumn<modbus::SlotResult>("failure");
        using modbus::SlotOutcome, modbus::RejectReason;
        // A failed turn's time (up to the time-out) is no response time.
        QTest::newRow("exception") << modbus::SlotResult{SlotOutcome::Exception, {}, 2, 9000};
        QTest::newRow("silent") << modbus::SlotResult{SlotOutcome::NoReply, RejectReason::NoBytes,
                                                      0, 1'000'000};
        QTest::newRow("bad crc") << modbus::SlotResult{SlotOutcome::NoReply, RejectReason::BadCrc,
                                                       0, 30'000};
        QTest::newRow("line busy") << modbus::SlotResult{SlotOutcome::LineBusy};
    }
    void everyFailureStartsFailingSince() {
        QFETCH(modbus::SlotResult, failure);
        const QDateTime t0 = QDateTime::currentDateTime();
        modbus::SlotStats s;
        modbus::countSlot(s, {modbus::SlotOutcome::Valid, {}, 0, 4000}, t0);
        modbus::countSlot(s, failure, t0.addSecs(1));
        QCOMPARE(s.averageResponseMicros(), 4000);
        QCOMPARE(s.failingSince, t0.addSecs(1));
        modbus::countSlot(s, failure, t0.addSecs(2)); // the first failure stays the start
        QCOMPARE(s.failingSince, t0.addSecs(1));
        if (failure.outcome == modbus::SlotOutcome::LineBusy) { // counted, though nothing was sent
            QCOMPARE(s.requests, 1u);
            QVERIFY(describeSlot(s, "2", true).contains("Line busy: 2 (no request sent)"));
        }
        modbus::countSlot(s, {modbus::SlotOutcome::Valid, {}, 0, 2000}, t0.addSecs(3));
        QVERIFY(!s.failingSince.isValid());
        QCOMPARE(s.averageResponseMicros(), 3000);
    }

    void labelsAndCountsFollowWhatWasRead_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QString>("slave");
        QTest::addColumn<int>("firstAddress");
        QTest::addColumn<int>("rows");
        QTest::addColumn<quint64>("requests"); // the slot's count after the second pass
        QTest::newRow("start moved") << "100"
                                     << "12"
                                     << "2" << 100 << 12 << quint64(2);
        QTest::newRow("slave changed") << "1139"
                                       << "12"
                                       << "7" << 1139 << 12 << quint64(1);
        QTest::newRow("fewer registers") << "1139"
                                         << "3"
                                         << "2" << 1139 << 3 << quint64(2);
    }
    void labelsAndCountsFollowWhatWasRead() {
        QFETCH(QString, start);
        QFETCH(QString, count);
        QFETCH(QString, slave);
        QFETCH(int, firstAddress);
        QFETCH(int, rows);
        QFETCH(quint64, requests);
        port0->onWrite = [&](const QByteArray &r) { port0->feed(numberedReply(r)); };
        QVERIFY(pollOnce());
        form->txt_addr->setText(start);
        form->txt_jumlahData->setText(count);
        form->txtaID[0]->setText(slave);
        QVERIFY(pollOnce());
        for (int row = 1; row < ReadingGrid::rows; ++row)
            QCOMPARE(*form->tabel->cellText(row, 2),
                     row <= rows ? QString::number(firstAddress + row - 1) : QString());
        QCOMPARE(*form->tabel->cellText(0, 3), "ID: " + slave);
        QCOMPARE(form->diagnostics()->stats(0, 0).requests, requests);
        QVERIFY(form->cheAID[0]->toolTip().startsWith("Slave " + slave));
    }

    void staleValuesTurnGreyAndBack() {
        bool answer = true;
        port0->onWrite = [&](const QByteArray &r) {
            if (answer)
                port0->feed(numberedReply(r));
        };
        QVERIFY(pollOnce());
        QVERIFY(!form->tabel->isCellStale(1, 3));
        answer = false;
        QVERIFY(pollOnce());
        QCOMPARE(*form->tabel->cellText(1, 3), QStringLiteral(" 1")); // text unchanged
        for (int row = 1; row <= 12; ++row)
            QVERIFY(form->tabel->isCellStale(row, 3));
        QVERIFY(!form->tabel->isCellStale(13, 3)); // never written
        QVERIFY(!form->tabel->isCellStale(1, 4));  // slot not enabled
        answer = true;
        form->txt_jumlahData->setText("6");
        QVERIFY(pollOnce());
        QVERIFY(!form->tabel->isCellStale(6, 3));
        QVERIFY(form->tabel->isCellStale(7, 3)); // not asked for this time
    }

    void lostPortComesBackWithoutAClick() {
        QCOMPARE(form->cmd_coneck->text(), QStringLiteral("DisConnect"));
        port0->openSucceeds = false;
        port0->openError = "/dev/ttyUSB0 is in use by process 7 (minicom)";
        port0->fail("device removed");
        QCOMPARE(form->cmd_coneck->text(), QStringLiteral("Connect"));
        QVERIFY(form->portKeeper(0)->isLost());
        QVERIFY(form->cmd_coneck->toolTip().contains("closed"));
        QVERIFY(!form->cmd_coneck->toolTip().contains("Cannot open"));
        const int opens = port0->opens;
        QSignalSpy tries(form->portKeeper(0), &PortKeeper::tryFailed);
        QVERIFY(tries.wait(3000));
        QCOMPARE(port0->opens, opens + 1); // one attempt per try, not a loop
        QVERIFY(form->cmd_coneck->toolTip().contains(
            "Cannot open: /dev/ttyUSB0 is in use by process 7 (minicom)"));
        QVERIFY(form->cmd_coneck->toolTip().contains(
            "next try " + form->portKeeper(0)->nextTry().toString("HH:mm:ss")));
        port0->openSucceeds = true;
        QTRY_COMPARE_WITH_TIMEOUT(form->cmd_coneck->text(), QStringLiteral("DisConnect"), 3000);
        QVERIFY(port0->isOpen());
        QVERIFY(form->cmd_coneck->toolTip().contains("open"));
        form->cmd_coneck->click();

        // Each change of the port is one row of the traffic, in the log and in the file.
        const traffic::TrafficLog &log = form->traffic()->log();
        QStringList events;
        for (quint64 seq = log.firstSeq(); seq < log.endSeq(); ++seq)
            if (const auto &f = log.at(seq).frame; f.verdict == modbus::FrameVerdict::Link)
                events << QString::number(f.link) + ' ' + f.note;
        const QString device = port0->deviceName();
        QCOMPARE(events,
                 (QStringList{"0 opened: " + device, "1 opened: " + form->MSComm1->deviceName(),
                              "0 lost: device removed",
                              "0 open failed: /dev/ttyUSB0 is in use by process 7 (minicom)",
                              "0 reopened: " + device, "0 closed by the operator: " + device}));
        form->traffic()->capture()->flush();
        QFile file(dir.filePath("traffic.tsv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray last = file.readAll().trimmed().split('\n').last();
        QVERIFY2(last.endsWith("\t0\t-\t-\t\t-\tlink\tclosed by the operator: " +
                               QFile::encodeName(device)),
                 last.constData());
    }

    // "DisConnect" ends the tries; a port that never opened has its menu's "Stop trying".
    void operatorDisconnectStaysDisconnected_data() {
        QTest::addColumn<bool>("neverOpened");
        QTest::newRow("DisConnect") << false;
        QTest::newRow("Stop trying") << true;
    }
    void operatorDisconnectStaysDisconnected() {
        QFETCH(bool, neverOpened);
        form->cmd_coneck->click();
        QCOMPARE(form->cmd_coneck->text(), QStringLiteral("Connect"));
        QAction *stop = form->cmd_coneck->actions().value(0);
        QVERIFY(stop && !stop->isEnabled());
        if (neverOpened) {
            port0->openSucceeds = false;
            form->cmd_coneck->click();
            QVERIFY(form->portKeeper(0)->isRetrying());
            QVERIFY(stop->isEnabled());
            QVERIFY(form->cmd_coneck->toolTip().contains("right-click to stop trying"));
            stop->trigger();
            QVERIFY(!stop->isEnabled());
            QVERIFY(!form->cmd_coneck->toolTip().contains("next try"));
        }
        const int opens = port0->opens;
        QSignalSpy ticks(form->Timer3, &clk::Timer::timeout);
        QVERIFY(ticks.wait(2000));
        QVERIFY(ticks.wait(2000));
        QCOMPARE(port0->opens, opens);
        QVERIFY(!port0->isOpen());
    }

    void lostThenOperatorClickLeavesItToTheOperator() {
        port0->fail("device removed");
        form->cmd_coneck->click(); // reopens by hand
        QVERIFY(!form->portKeeper(0)->isLost());
        form->cmd_coneck->click(); // and closes by hand
        QSignalSpy ticks(form->Timer3, &clk::Timer::timeout);
        QVERIFY(ticks.wait(2000));
        QVERIFY(!port0->isOpen());
    }
};

QTEST_MAIN(TestDiagnostics)
#include "test_diagnostics.moc"
