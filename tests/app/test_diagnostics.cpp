#include "diagnostics.h"
#include "faketransport.h"
#include "form1.h"
#include "portkeeper.h"
#include "readinggrid.h"
#include "slotdescription.h"
#include "slotstats.h"
#include "withcrc.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QByteArray replyTo(const QByteArray &request, int slave = -1) {
    const int count = std::uint8_t(request[5]);
    QByteArray frame;
    frame += char(slave < 0 ? request[0] : slave);
    frame += char(3);
    frame += char(2 * count);
    for (int r = 0; r < count; ++r)
        frame += char(0), frame += char(r + 1);
    return withCrc(frame);
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
        port0 = new FakeTransport;
        form = std::make_unique<Form1>(std::array<SerialTransport *, 2>{port0, new FakeTransport},
                                       Form1Options{dir.filePath("mwRARE.csv"), 100});
        form->Timer2->stop();
    }
    void cleanup() { form.reset(); }

    void countsFollowWhatTheSlaveDid() {
        std::vector<Answer> script{Answer::Valid,      Answer::Late,      Answer::BadCrc,
                                   Answer::WrongSlave, Answer::Exception, Answer::Silent,
                                   Answer::Valid};
        std::size_t next = 0;
        bool lateArrived = true;
        port0->onWrite = [&](const QByteArray &r) {
            switch (script.at(next++)) {
            case Answer::Valid:
                port0->feed(replyTo(r));
                break;
            case Answer::Late:
                lateArrived = false;
                QTimer::singleShot(150, port0, [&, r] {
                    port0->feed(replyTo(r));
                    lateArrived = true;
                });
                break;
            case Answer::BadCrc: {
                QByteArray bad = replyTo(r);
                bad[4] = char(bad[4] ^ 0x10);
                port0->feed(bad);
                break;
            }
            case Answer::WrongSlave:
                port0->feed(replyTo(r, 99));
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
        QCOMPARE(s.requests, 7u);
        QCOMPARE(s.valid, 2u);
        QCOMPARE(s.timeouts, 2u); // the late reply and the silent one
        QCOMPARE(s.late, 1u);
        QCOMPARE(s.badCrc, 1u);
        QCOMPARE(s.wrongSlave, 1u);
        QCOMPARE(s.exceptions, 1u);
        QCOMPARE(s.lastExceptionCode, 4);
        QVERIFY(s.lastResponseMicros >= 0 && s.lastResponseMicros < 100000);
        QVERIFY(s.lastValid.isValid());
        QVERIFY(!s.failingSince.isValid());
        const QString tip = form->cheAID[0]->toolTip();
        QVERIFY2(tip.contains("Requests: 7, valid replies: 2"), qPrintable(tip));
        QVERIFY2(tip.contains("last code 4"), qPrintable(tip));
        QCOMPARE(form->tabel->item(0, 3)->toolTip(), tip);

        form->diagnostics()->reset(0, 0);
        QCOMPARE(form->diagnostics()->stats(0, 0).requests, 0u);
        QVERIFY(form->cheAID[0]->toolTip().contains("Requests: 0"));
    }

    void everyFailureStartsFailingSince_data() {
        QTest::addColumn<modbus::SlotResult>("failure");
        using modbus::SlotOutcome, modbus::RejectReason;
        QTest::newRow("exception") << modbus::SlotResult{SlotOutcome::Exception, {}, 2};
        QTest::newRow("silent") << modbus::SlotResult{SlotOutcome::NoReply, RejectReason::NoBytes};
        QTest::newRow("bad crc") << modbus::SlotResult{SlotOutcome::NoReply, RejectReason::BadCrc};
        QTest::newRow("line busy") << modbus::SlotResult{SlotOutcome::LineBusy};
    }
    void everyFailureStartsFailingSince() {
        QFETCH(modbus::SlotResult, failure);
        const QDateTime t0 = QDateTime::currentDateTime();
        modbus::SlotStats s;
        modbus::countSlot(s, {modbus::SlotOutcome::Valid}, t0);
        modbus::countSlot(s, failure, t0.addSecs(1));
        QCOMPARE(s.failingSince, t0.addSecs(1));
        modbus::countSlot(s, failure, t0.addSecs(2)); // the first failure stays the start
        QCOMPARE(s.failingSince, t0.addSecs(1));
        if (failure.outcome == modbus::SlotOutcome::LineBusy) { // counted, though nothing was sent
            QCOMPARE(s.requests, 1u);
            QVERIFY(describeSlot(s, "2", true).contains("Line busy: 2 (no request sent)"));
        }
        modbus::countSlot(s, {modbus::SlotOutcome::Valid}, t0.addSecs(3));
        QVERIFY(!s.failingSince.isValid());
    }

    void staleValuesTurnGreyAndBack() {
        bool answer = true;
        port0->onWrite = [&](const QByteArray &r) {
            if (answer)
                port0->feed(replyTo(r));
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
        QSignalSpy ticks(form->Timer3, &clk::Timer::timeout);
        QVERIFY(ticks.wait(2000));
        QCOMPARE(port0->opens, opens + 1); // one attempt per tick, not a loop
        QVERIFY(form->cmd_coneck->toolTip().contains(
            "Cannot open: /dev/ttyUSB0 is in use by process 7 (minicom)"));
        port0->openSucceeds = true;
        QTRY_COMPARE_WITH_TIMEOUT(form->cmd_coneck->text(), QStringLiteral("DisConnect"), 2000);
        QVERIFY(port0->isOpen());
        QVERIFY(form->cmd_coneck->toolTip().contains("open"));
    }

    void operatorDisconnectStaysDisconnected() {
        form->cmd_coneck->click();
        QCOMPARE(form->cmd_coneck->text(), QStringLiteral("Connect"));
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
