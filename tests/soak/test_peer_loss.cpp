// Link 0's device goes away and comes back, again and again, at random moments: between polls,
// right as a request goes out, while a reply is under way. The station keeps scanning, idles
// while the device is gone, holds no more descriptors than before, and polls again on its own
// within two seconds of the device's return.
#include "form1.h"
#include "portkeeper.h"
#include "scancontrol.h"
#include "simstation.h"
#include "soaksupport.h"
#include "transport.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using modbus::SlotOutcome;

namespace {

// While the device is gone: at most this share of one core.
constexpr double idleShare = 0.01;
constexpr int resumeWithinMs = 2000;

enum class Moment {
    Anytime,     // after a random delay, wherever the cycle is
    WithRequest, // as a request is handed to the port
    MidReply,    // a few milliseconds after a request, while the reply is on its way
};

const char *momentName(Moment m) {
    switch (m) {
    case Moment::Anytime:
        return "anytime";
    case Moment::WithRequest:
        return "with a request";
    case Moment::MidReply:
        return "during a reply";
    }
    return "?";
}

} // namespace

class TestPeerLoss : public QObject {
    Q_OBJECT
private slots:
    void deviceComesAndGoes() {
        const int rounds = soak::envInt("PEER_LOSS_ROUNDS", 10);
        const quint32 seed = quint32(
            soak::envInt("PEER_LOSS_SEED", int(QRandomGenerator::global()->bounded(1, 1 << 30))));
        qInfo("%d rounds, seed %u (PEER_LOSS_SEED repeats the moments)", rounds, seed);
        QRandomGenerator random(seed);

        // Replies paced like the real line, so that a loss can fall between request and reply.
        SimStation station({"--static", "--wire-speed"});
        QVERIFY(station.start());
        PlantSim &sim = station.sim;
        Form1 &form = station.open();
        form.Timer2->stop();
        // Slaves 2, 60, 5 and 6 on link 0. Link 1 stays open but unpolled, so that the CPU the
        // station uses while link 0's device is gone is that of the lost link and the cycle
        // alone: polling link 1 as well costs about half of the allowance on its own.
        for (auto *box : form.cheAID)
            box->setChecked(true);
        for (auto *box : form.cheAID1)
            box->setChecked(false);

        int validTurns = 0;
        QElapsedTimer sinceRestore;
        qint64 resumedAfterMs = -1;
        connect(form.poll(0), &modbus::LinkPoll::slotFinished, this,
                [&](int, const modbus::SlotResult &result) {
                    if (result.outcome != SlotOutcome::Valid)
                        return;
                    ++validTurns;
                    if (resumedAfterMs < 0 && sinceRestore.isValid())
                        resumedAfterMs = sinceRestore.elapsed();
                });
        QSignalSpy lost(form.MSComm, &SerialTransport::portLost);
        QSignalSpy reopened(form.portKeeper(0), &PortKeeper::reopened);
        QSignalSpy cycles(form.scanControl(), &scan::ScanControl::cycleFinished);
        QSignalSpy connectClicks(form.cmd_coneck, &QPushButton::clicked);
        QSignalSpy connectClicks1(form.cmd_coneck1, &QPushButton::clicked);

        form.PBScan->click();
        QTRY_VERIFY_WITH_TIMEOUT(validTurns >= 4, 5000);

        int descriptorsAtStart = -1;
        int mostDescriptors = 0;
        double highestShare = 0;
        qint64 slowestResumeMs = 0;
        for (int round = 0; round < rounds; ++round) {
            const auto moment = Moment(round % 3);
            const QString where =
                QStringLiteral("round %1 (%2)").arg(round).arg(momentName(moment));
            // Lose the device. The CPU the station uses counts from that moment on, and the
            // test only ever waits in event loops meanwhile (QTest::qWait would poll).
            bool dropped = false;
            double cpuAtDrop = 0;
            QElapsedTimer gone;
            auto drop = [&] {
                cpuAtDrop = soak::cpuSeconds();
                gone.start();
                sim.post(QStringLiteral("drop 0"));
                dropped = true;
            };
            const qsizetype lostBefore = lost.size();
            const int cyclesBefore = int(cycles.size());
            if (moment == Moment::Anytime) {
                QTest::qWait(random.bounded(0, 1500)); // a random point of the cycle
                drop();
            } else {
                const int delayMs = moment == Moment::MidReply ? random.bounded(1, 15) : 0;
                auto once = std::make_shared<QMetaObject::Connection>();
                *once = connect(form.poll(0), &modbus::LinkPoll::requestSent, this,
                                [&, once, delayMs, drop] {
                                    disconnect(*once);
                                    if (delayMs == 0)
                                        drop(); // the request is still on its way to the line
                                    else
                                        QTimer::singleShot(delayMs, this, drop);
                                });
            }
            if (lost.size() == lostBefore)
                QVERIFY2(lost.wait(5000), qPrintable(where));
            QVERIFY(dropped);
            QVERIFY(sim.waitForOk());
            QVERIFY(form.portKeeper(0)->isLost());
            QCOMPARE(form.cmd_coneck->text(), QStringLiteral("Connect"));
            QVERIFY(!form.MSComm->isOpen());

            // While it is gone: the station keeps cycling and nothing spins.
            const int gonePeriodMs = 1500 + random.bounded(0, 1000);
            soak::runEventLoop(int(std::max<qint64>(0, gonePeriodMs - gone.elapsed())));
            const double share =
                (soak::cpuSeconds() - cpuAtDrop) / (double(gone.elapsed()) / 1000.0);
            highestShare = std::max(highestShare, share);
            QVERIFY2(share <= idleShare,
                     qPrintable(QStringLiteral("%1: %2 % of a core while the device was gone")
                                    .arg(where)
                                    .arg(share * 100, 0, 'f', 2)));
            QVERIFY2(cycles.size() > cyclesBefore, qPrintable(where));
            QVERIFY(form.portKeeper(0)->isLost());

            // Back again: polls resume with no click, within the bound.
            resumedAfterMs = -1;
            sinceRestore.start();
            QVERIFY(sim.command(QStringLiteral("restore 0")));
            QTRY_VERIFY2_WITH_TIMEOUT(resumedAfterMs >= 0, qPrintable(where),
                                      resumeWithinMs + 1000);
            slowestResumeMs = std::max(slowestResumeMs, resumedAfterMs);
            QVERIFY2(resumedAfterMs <= resumeWithinMs,
                     qPrintable(QStringLiteral("%1: polls resumed after %2 ms")
                                    .arg(where)
                                    .arg(resumedAfterMs)));
            sinceRestore.invalidate();
            QCOMPARE(form.cmd_coneck->text(), QStringLiteral("DisConnect"));
            QVERIFY(!form.portKeeper(0)->isLost());

            // Descriptors held once the link is back: no more than after the first round.
            const int descriptors = soak::openDescriptors();
            mostDescriptors = std::max(mostDescriptors, descriptors);
            if (descriptorsAtStart < 0)
                descriptorsAtStart = descriptors;
            QVERIFY2(descriptors <= descriptorsAtStart,
                     qPrintable(QStringLiteral("%1: %2 descriptors, %3 after the first round")
                                    .arg(where)
                                    .arg(descriptors)
                                    .arg(descriptorsAtStart)));
            // Per link the port and the descriptor that holds its device lock; nothing of a gone
            // device.
            QCOMPARE(soak::openTerminals(), 4);
        }
        qInfo("CPU while gone at most %.2f %% of a core; resumed within %lld ms; %d descriptors",
              highestShare * 100, slowestResumeMs, mostDescriptors);

        // Each loss seen once and healed once, by the station alone.
        QCOMPARE(int(lost.size()), rounds);
        QCOMPARE(int(reopened.size()), rounds);
        QCOMPARE(int(connectClicks.size()), 0);
        QCOMPARE(int(connectClicks1.size()), 0);
        const auto counts = sim.counts();
        QVERIFY(counts);
        QCOMPARE(counts->bad, quint64(0));
        QCOMPARE(counts->ignored, quint64(0));
    }
};

int main(int argc, char **argv) {
    // Fifty rounds by hand outlast Qt Test's five-minute watchdog.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT",
                QByteArray::number((soak::envInt("PEER_LOSS_ROUNDS", 10) * 10 + 120) * 1000LL));
    QApplication app(argc, argv);
    TestPeerLoss test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_peer_loss.moc"
