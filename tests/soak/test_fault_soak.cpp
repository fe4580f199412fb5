// The station scanning both links for a long while against the plant simulator, which answers
// late, corrupts replies, sends exceptions, stays silent and puts noise ahead of replies. What the
// station shows and writes must be values the slaves served, the cycle must keep its pace, the
// snapshot file must read whole whenever it is read, and the per-slot counts must agree with what
// the simulator injected.
//
// The simulator serves static values (--static): every reply of a slave is then the same bytes,
// and the test can tell beforehand that no reply holds another slave's address followed by a
// function code. A late reply that lands in another slot's wait is then always seen as a reply
// from the wrong slave, never as a damaged reply for the awaited one, so the CRC and exception
// counts must match the simulator's exactly.
#include "diagnostics.h"
#include "form1.h"
#include "readinggrid.h"
#include "scancontrol.h"
#include "simstation.h"
#include "soaksupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

using modbus::RejectReason;
using modbus::SlotOutcome;

namespace {

constexpr int replyTimeoutMs = 500;
constexpr int cyclePauseMs = 500;
// What the event loop may add on a loaded two-core machine: to the pause between cycles, to one
// slot's wait, and to a cycle for handing over between its steps and writing the snapshot.
constexpr int pauseMarginMs = 100;
constexpr int slotMarginMs = 60;
// What the guard after a slave's time-out may grow by once the slave has been seen answering late
// (the plain 37.75 ms guard lies within the margin above).
constexpr int learnedGuardMs = 38;
constexpr int cycleMarginMs = 100;
// How long after the station took a reply the simulator's stamp of it may come: it stamps a
// reply after writing it. Less than a pause, so the slave's next reply stays out of reach.
constexpr int stampLagMs = cyclePauseMs - 100;
constexpr int firstRegister = 1139;
constexpr int registerCount = 12;
constexpr int snapshotRegister = firstRegister + 3; // grid row 4

// The slaves each link serves, slot by slot; all of them are polled.
const std::array<std::vector<int>, 2> slaves{{{2, 60, 5, 6}, {9, 10}}};

int enabledSlots() {
    return int(slaves[0].size() + slaves[1].size());
}

// The longest a cycle may take: every slot waiting out its time-out.
qint64 cycleBudgetMs() {
    return enabledSlots() * (replyTimeoutMs + learnedGuardMs + slotMarginMs) + cycleMarginMs;
}

// One slot's turn as the test saw it. The request goes on the line before requestSent is emitted,
// and a loaded machine may run the simulator's reply in between; so a turn is taken to begin
// where the step before it ended (the cycle's start or the previous slot's end).
struct Turn {
    int link = 0;
    int slot = 0;
    qint64 sentWallMs = 0;
    qint64 doneWallMs = 0;
    qint64 sentNs = 0;
    qint64 doneNs = 0;
    modbus::SlotResult result;
    QStringList shown; // Valid: rows 1..12 of the slot's column right after the reply
};

// Reads the snapshot file over and over from a thread of its own, as another program would.
class FileSampler {
public:
    explicit FileSampler(QByteArray path)
        : path_(std::move(path)) {}
    ~FileSampler() { stop(); }

    void start(std::chrono::seconds limit) {
        thread_ = std::thread([this, limit] { run(limit); });
    }
    void stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    quint64 samples() const { return samples_; }
    quint64 broken() const { return broken_; }
    QList<QByteArray> brokenExamples() const {
        std::lock_guard lock(mutex_);
        return examples_;
    }
    std::set<QByteArray> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    void run(std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!stop_ && std::chrono::steady_clock::now() < deadline) {
            QByteArray content;
            const int fd = ::open(path_.constData(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                char buf[4096];
                ssize_t n;
                while ((n = ::read(fd, buf, sizeof buf)) > 0)
                    content.append(buf, n);
                ::close(fd);
            } else {
                content = "(cannot open: " + QByteArray(strerror(errno)) + ')';
            }
            ++samples_;
            std::lock_guard lock(mutex_);
            if (!soak::isWholeSnapshotLine(content)) {
                ++broken_;
                if (examples_.size() < 10)
                    examples_ << content;
            } else if (lines_.size() < 10000) {
                lines_.insert(content);
            }
        }
    }

    const QByteArray path_;
    std::thread thread_;
    std::atomic<bool> stop_ = false;
    std::atomic<quint64> samples_ = 0;
    std::atomic<quint64> broken_ = 0;
    mutable std::mutex mutex_;
    QList<QByteArray> examples_;
    std::set<QByteArray> lines_;
};

// Values each slave served per register, in replies a master may take (ok or late).
using ServedSet = std::set<std::tuple<int, int, int>>; // slave, register, value

QString turnName(const Turn &t) {
    return QStringLiteral("link %1 slot %2 (slave %3)")
        .arg(t.link)
        .arg(t.slot)
        .arg(slaves[t.link][std::size_t(t.slot)]);
}

// The value a cell shows, when its text is one blank and decimal digits.
std::optional<int> cellValue(const QString &text) {
    if (text.size() < 2 || text[0] != u' ')
        return std::nullopt;
    bool ok = false;
    const int v = text.sliced(1).toInt(&ok);
    if (!ok || v < 0 || v > 65535 || QString::number(v) != text.sliced(1))
        return std::nullopt;
    return v;
}

// Problems with one snapshot line against what was served.
QStringList snapshotProblems(const QByteArray &content, const ServedSet &served) {
    QStringList problems;
    const QList<QByteArray> fields = content.chopped(2).split(',');
    if (fields.size() != 11)
        return {QStringLiteral("not 10 fields: %1").arg(QString::fromLatin1(content))};
    if (fields[0] != QByteArray::number(snapshotRegister))
        problems << QStringLiteral("address field %1").arg(QString::fromLatin1(fields[0]));
    for (int column = 3; column <= 10; ++column) {
        const int link = column < 7 ? 0 : 1;
        const std::size_t slot = std::size_t(column - firstSlotColumn(link));
        const QString text = QString::fromLatin1(fields[column - 2]);
        if (slot >= slaves[link].size()) {
            if (!text.isEmpty())
                problems << QStringLiteral("column %1 has no slave but shows '%2'")
                                .arg(column)
                                .arg(text);
            continue;
        }
        if (text.isEmpty())
            continue; // not read yet
        const auto v = cellValue(text);
        if (!v || !served.count({slaves[link][slot], snapshotRegister, *v}))
            problems << QStringLiteral("column %1 shows '%2', never served by slave %3")
                            .arg(column)
                            .arg(text)
                            .arg(slaves[link][slot]);
    }
    if (!fields[9].isEmpty() || !fields[10].isEmpty())
        problems << QStringLiteral("column 11 or the end is not empty");
    return problems;
}

QString joined(const std::array<quint64, 8> &numbers) {
    QStringList parts;
    for (quint64 n : numbers)
        parts << QString::number(n);
    return parts.join(u' ');
}

} // namespace

class TestFaultSoak : public QObject {
    Q_OBJECT
private slots:
    void staticRepliesCarryNoForeignFrameStart() {
        // What keeps the exact count checks below sound: no reply of one slave holds the address
        // of another slave on its link followed by function 3 or 0x83.
        for (const auto &link : slaves) {
            for (int a : link) {
                const QByteArray reply = soak::staticReply(a, firstRegister, registerCount);
                for (int b : link) {
                    if (a == b)
                        continue;
                    for (const char function : {char(0x03), char(0x83)}) {
                        const QByteArray start = QByteArray(1, char(b)) + function;
                        QVERIFY2(!reply.contains(start),
                                 qPrintable(QStringLiteral("reply of %1 holds %2")
                                                .arg(a)
                                                .arg(QString::fromLatin1(start.toHex()))));
                    }
                }
            }
        }
    }

    void scanningThroughFaults() {
        const int seconds = soak::envInt("SOAK_SECONDS", 60);
        const quint64 seed = quint64(
            soak::envInt("SOAK_SEED", int(QRandomGenerator::global()->bounded(1, 1 << 30))));
        qInfo("soak of %d s, simulator seed %llu (SOAK_SEED repeats it)", seconds, seed);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString record = dir.filePath(QStringLiteral("served.txt"));
        const QString csv = dir.filePath(QStringLiteral("mwRARE.csv"));
        SimStation station({"--static", "--late", "0.1", "--corrupt", "0.05", "--exception", "0.05",
                            "--silent", "0.05", "--garbage", "0.05", "--garbage-mode", "before",
                            "--record", record, "--seed", QString::number(seed)});
        QVERIFY(station.start());
        PlantSim &sim = station.sim;

        Form1 &form = station.open(Form1Options{csv, replyTimeoutMs});
        form.Timer2->stop(); // the test starts the scan itself
        QCOMPARE(station.connectTexts(), SimStation::bothOpen);
        for (int link = 0; link < 2; ++link) {
            const auto &boxes = link == 0 ? form.cheAID : form.cheAID1;
            const auto &ids = link == 0 ? form.txtaID : form.txtaID1;
            for (std::size_t slot = 0; slot < 4; ++slot) {
                const bool served = slot < slaves[link].size();
                boxes[slot]->setChecked(served);
                if (served)
                    QCOMPARE(ids[slot]->text(), QString::number(slaves[link][slot]));
            }
        }

        QElapsedTimer clock;
        clock.start();
        std::vector<std::pair<bool, qint64>> cycleEvents; // started?, when
        std::vector<QByteArray> filesAtCycleEnd;
        QStringList problems;
        std::vector<Turn> turns;
        std::array<std::optional<Turn>, 2> pending;
        int stoppedTurns = 0; // turns that sent nothing although the slot is ticked
        qint64 stepEndNs = 0;
        qint64 stepEndWallMs = 0;
        auto stepEnded = [&] {
            stepEndNs = clock.nsecsElapsed();
            stepEndWallMs = QDateTime::currentMSecsSinceEpoch();
        };
        connect(form.scanControl(), &scan::ScanControl::cycleStarted, this, [&] {
            cycleEvents.emplace_back(true, clock.nsecsElapsed());
            stepEnded();
        });
        std::set<QByteArray> linesShown;
        connect(form.scanControl(), &scan::ScanControl::cycleFinished, this, [&] {
            cycleEvents.emplace_back(false, clock.nsecsElapsed());
            linesShown.insert(form.txtPrint->text().toLatin1() + "\r\n");
        });
        // The file is written on a thread of its own: after each write it holds a line the
        // window showed at a cycle's end.
        connect(form.snapshotWriter(), &scan::SnapshotWriter::written, this,
                [&](const std::optional<QString> &failure) {
                    QFile file(csv);
                    QByteArray content =
                        file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                    if (failure || !linesShown.count(content))
                        problems << QStringLiteral("file '%1' is no line the window showed (%2)")
                                        .arg(QString::fromLatin1(content),
                                             failure.value_or(QStringLiteral("written")));
                    filesAtCycleEnd.push_back(std::move(content));
                });
        for (int link = 0; link < 2; ++link) {
            connect(form.poll(link), &modbus::LinkPoll::requestSent, this, [&, link](int slot) {
                if (pending[link])
                    problems << QStringLiteral("link %1: a request while one is open").arg(link);
                Turn t;
                t.link = link;
                t.slot = slot;
                t.sentNs = stepEndNs;
                t.sentWallMs = stepEndWallMs;
                pending[link] = t;
            });
            connect(form.poll(link), &modbus::LinkPoll::slotFinished, this,
                    [&, link](int slot, const modbus::SlotResult &result) {
                        const auto endsStep = qScopeGuard(stepEnded);
                        if (result.outcome == SlotOutcome::Disabled)
                            return;
                        if (result.outcome == SlotOutcome::NotSent ||
                            result.outcome == SlotOutcome::PortClosed) {
                            ++stoppedTurns;
                            return;
                        }
                        if (!pending[link] || pending[link]->slot != slot) {
                            problems << QStringLiteral("link %1 slot %2 finished unasked")
                                            .arg(link)
                                            .arg(slot);
                            return;
                        }
                        Turn t = *pending[link];
                        pending[link].reset();
                        t.doneNs = clock.nsecsElapsed();
                        t.doneWallMs = QDateTime::currentMSecsSinceEpoch();
                        t.result = result;
                        if (result.outcome == SlotOutcome::Valid) {
                            for (int row = 1; row <= registerCount; ++row)
                                t.shown << form.tabel->cellText(row, firstSlotColumn(link) + slot)
                                               .value_or(QString());
                        }
                        turns.push_back(std::move(t));
                    });
        }

        QSignalSpy firstCycle(form.scanControl(), &scan::ScanControl::cycleFinished);
        form.PBScan->click();
        QCOMPARE(form.PBScan->text(), scan::scanOffCaption);
        QVERIFY(firstCycle.wait(int(cycleBudgetMs()) + 2000));

        // Another program reads the file all along, from its first write on.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(csv), 5000);
        FileSampler sampler(QFile::encodeName(csv));
        sampler.start(std::chrono::seconds(seconds + 60));
        const qint64 stallNs = (cycleBudgetMs() + cyclePauseMs + 1000) * 1000000;
        QElapsedTimer soakClock;
        soakClock.start();
        while (soakClock.elapsed() < seconds * 1000LL) {
            soak::runEventLoop(200);
            if (clock.nsecsElapsed() - cycleEvents.back().second > stallNs)
                break; // stalled: the timing checks below tell how
        }
        const qint64 endNs = clock.nsecsElapsed();
        const bool lastWasStart = cycleEvents.back().first;
        const qint64 lastEventNs = cycleEvents.back().second;

        form.PBScan->click();
        QCOMPARE(form.PBScan->text(), scan::scanOnCaption);
        QTRY_VERIFY_WITH_TIMEOUT(!form.scanControl()->cycleRunning(), int(cycleBudgetMs()) + 2000);
        sampler.stop();
        const auto counts = sim.counts();
        QVERIFY(counts);
        sim.stop();
        std::vector<soak::ServedReply> served;
        QString why;
        QVERIFY2(soak::readRecord(record, served, &why), qPrintable(why));

        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
        QCOMPARE(stoppedTurns, 0); // the ports stayed open and the texts valid throughout
        QVERIFY(!pending[0] && !pending[1]);

        // (b) The cycle's pace: never a pause longer than the timer's, never a cycle longer than
        // every slot waiting out its time-out, never a slot waiting past its time-out.
        qint64 longestPauseMs = 0;
        qint64 longestCycleMs = 0;
        int cycles = 0;
        for (std::size_t i = 0; i < cycleEvents.size(); ++i) {
            const auto [started, at] = cycleEvents[i];
            QVERIFY2(i == 0 || started != cycleEvents[i - 1].first, "cycles overlap");
            if (i == 0)
                continue;
            const qint64 ms = (at - cycleEvents[i - 1].second) / 1000000;
            if (started) {
                longestPauseMs = std::max(longestPauseMs, ms);
            } else {
                longestCycleMs = std::max(longestCycleMs, ms);
                ++cycles;
            }
        }
        const qint64 openMs = (endNs - lastEventNs) / 1000000;
        qint64 longestTurnMs = 0;
        for (const Turn &t : turns)
            longestTurnMs = std::max(longestTurnMs, (t.doneNs - t.sentNs) / 1000000);
        qInfo("%d cycles, %zu turns; longest pause %lld ms, cycle %lld ms, slot %lld ms", cycles,
              turns.size(), longestPauseMs, longestCycleMs, longestTurnMs);
        QVERIFY2(longestPauseMs <= cyclePauseMs + pauseMarginMs,
                 qPrintable(QString::number(longestPauseMs)));
        QVERIFY2(longestCycleMs <= cycleBudgetMs(), qPrintable(QString::number(longestCycleMs)));
        QVERIFY2(longestTurnMs <= replyTimeoutMs + learnedGuardMs + slotMarginMs,
                 qPrintable(QString::number(longestTurnMs)));
        QVERIFY2(openMs <= (lastWasStart ? cycleBudgetMs() : cyclePauseMs + pauseMarginMs),
                 qPrintable(QStringLiteral("nothing for %1 ms at the end").arg(openMs)));
        QVERIFY(cycles >= seconds * 1000 / (cycleBudgetMs() + cyclePauseMs + pauseMarginMs));

        // (a) Every value shown came in a reply the slave sent for that register during the
        // slot's own wait (ok, or late but still inside the wait); nothing only ever sent
        // corrupted is shown.
        ServedSet takeable;
        std::map<int, std::array<int, 3>> repliesOf; // slave: ok, late, corrupt
        for (const auto &r : served) {
            const int kind = r.kind == QStringLiteral("ok")        ? 0
                             : r.kind == QStringLiteral("late")    ? 1
                             : r.kind == QStringLiteral("corrupt") ? 2
                                                                   : -1;
            QVERIFY2(kind >= 0, qPrintable(r.kind));
            QCOMPARE(r.firstRegister, firstRegister);
            QCOMPARE(int(r.values.size()), registerCount);
            ++repliesOf[r.slave][std::size_t(kind)];
            if (kind < 2) {
                for (std::size_t i = 0; i < r.values.size(); ++i)
                    takeable.insert({r.slave, r.firstRegister + int(i), r.values[i]});
            }
        }
        int wrongValues = 0;
        QStringList wrong;
        // The replies of the turn's slave stamped from the turn's start until well before the
        // slave's next turn.
        auto servedDuring = [&](const Turn &t, const QStringList &kinds) {
            const int slave = slaves[t.link][std::size_t(t.slot)];
            std::vector<const soak::ServedReply *> found;
            for (const auto &r : served) {
                if (r.slave == slave && kinds.contains(r.kind) && r.timeMs >= t.sentWallMs - 2 &&
                    r.timeMs <= t.doneWallMs + stampLagMs)
                    found.push_back(&r);
            }
            return found;
        };
        for (const Turn &t : turns) {
            const int slave = slaves[t.link][std::size_t(t.slot)];
            if (t.result.outcome == SlotOutcome::Valid) {
                QCOMPARE(t.result.values, registerCount);
                bool matchesItsReply = false;
                for (const auto *r :
                     servedDuring(t, {QStringLiteral("ok"), QStringLiteral("late")})) {
                    bool same = true;
                    for (int i = 0; i < registerCount; ++i)
                        same = same && cellValue(t.shown[i]) == int(r->values[std::size_t(i)]);
                    matchesItsReply = matchesItsReply || same;
                }
                for (int i = 0; i < registerCount; ++i) {
                    const auto v = cellValue(t.shown[i]);
                    if (!v || !takeable.count({slave, firstRegister + i, *v})) {
                        ++wrongValues;
                        wrong << QStringLiteral("%1 row %2: '%3'")
                                     .arg(turnName(t))
                                     .arg(i + 1)
                                     .arg(t.shown[i]);
                    }
                }
                if (!matchesItsReply) {
                    QStringList near;
                    for (const auto &r : served) {
                        if (r.slave == slave && std::abs(r.timeMs - t.sentWallMs) < 3000)
                            near
                                << QStringLiteral("%1 %2").arg(r.timeMs - t.sentWallMs).arg(r.kind);
                    }
                    wrong << QStringLiteral("%1: shown values are not those of a reply served "
                                            "during its wait of %2 ms; served then (ms from the "
                                            "request): %3")
                                 .arg(turnName(t))
                                 .arg(t.doneWallMs - t.sentWallMs)
                                 .arg(near.join(QStringLiteral(", ")));
                }
            }
            if (t.result.outcome == SlotOutcome::NoReply &&
                t.result.reject == RejectReason::BadCrc &&
                servedDuring(t, {QStringLiteral("corrupt")}).empty())
                wrong << QStringLiteral("%1: damaged reply without one served").arg(turnName(t));
        }
        QCOMPARE(wrongValues, 0);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 20).join(u'\n')));

        // (a, c) The file: after each write a line the window showed; to the reader
        // alongside always one whole line; in both only values served for register 1142.
        QVERIFY(!filesAtCycleEnd.empty());
        std::set<QByteArray> lines = sampler.lines();
        lines.insert(filesAtCycleEnd.begin(), filesAtCycleEnd.end());
        for (const QByteArray &line : lines) {
            QVERIFY2(soak::isWholeSnapshotLine(line), line.constData());
            const QStringList lineProblems = snapshotProblems(line, takeable);
            QVERIFY2(lineProblems.isEmpty(), qPrintable(lineProblems.join(u'\n')));
        }
        qInfo("file read %llu times alongside, %zu different lines", sampler.samples(),
              lines.size());
        QVERIFY2(sampler.broken() == 0,
                 qPrintable(QStringLiteral("%1 of %2 reads broken, e.g. '%3'")
                                .arg(sampler.broken())
                                .arg(sampler.samples())
                                .arg(QString::fromLatin1(
                                    sampler.brokenExamples().value(0).toPercentEncoding()))));
        QVERIFY(sampler.samples() >= quint64(seconds) * 100);

        // (d) The station's counts against the simulator's. The turns the test saw first agree
        // with the station's own per-slot counts.
        modbus::SlotStats sum;
        for (int link = 0; link < 2; ++link) {
            for (std::size_t slot = 0; slot < 4; ++slot) {
                const modbus::SlotStats &s = form.diagnostics()->stats(link, int(slot));
                std::array<quint64, 8>
                    seen{}; // requests valid exceptions timeouts crc slave len noise
                for (const Turn &t : turns) {
                    if (t.link != link || t.slot != int(slot))
                        continue;
                    ++seen[0];
                    if (t.result.outcome == SlotOutcome::Valid)
                        ++seen[1];
                    else if (t.result.outcome == SlotOutcome::Exception)
                        ++seen[2];
                    else if (t.result.reject == RejectReason::BadCrc)
                        ++seen[4];
                    else if (t.result.reject == RejectReason::WrongSlave)
                        ++seen[5];
                    else if (t.result.reject == RejectReason::WrongLength)
                        ++seen[6];
                    else if (t.result.reject == RejectReason::Garbage)
                        ++seen[7];
                    else
                        ++seen[3];
                }
                const std::array<quint64, 8> counted{s.requests,    s.valid,  s.exceptions,
                                                     s.timeouts,    s.badCrc, s.wrongSlave,
                                                     s.wrongLength, s.garbage};
                QVERIFY2(counted == seen,
                         qPrintable(QStringLiteral("link %1 slot %2: station counts %3, turns %4")
                                        .arg(link)
                                        .arg(slot)
                                        .arg(joined(counted), joined(seen))));
                sum.requests += s.requests;
                sum.valid += s.valid;
                sum.exceptions += s.exceptions;
                sum.timeouts += s.timeouts;
                sum.badCrc += s.badCrc;
                sum.wrongSlave += s.wrongSlave;
                sum.wrongLength += s.wrongLength;
                sum.garbage += s.garbage;
                if (slot >= slaves[link].size()) {
                    QCOMPARE(s.requests, quint64(0));
                    continue;
                }
                // Per slave, from the record: every damaged reply counted as a CRC failure;
                // valid replies at least those sent in time, at most those plus the late ones.
                const auto &r = repliesOf[slaves[link][slot]];
                QCOMPARE(s.badCrc, quint64(r[2]));
                QVERIFY2(s.valid >= quint64(r[0]) && s.valid <= quint64(r[0] + r[1]),
                         qPrintable(QStringLiteral("slave %1: %2 valid, %3 ok and %4 late served")
                                        .arg(slaves[link][slot])
                                        .arg(s.valid)
                                        .arg(r[0])
                                        .arg(r[1])));
                QVERIFY(s.valid > 0);
            }
        }
        const PlantCounts &c = *counts;
        qInfo("simulator: requests=%llu silent=%llu late=%llu corrupt=%llu exception=%llu "
              "garbage=%llu; station: valid=%llu timeouts=%llu wrongSlave=%llu badCrc=%llu "
              "exceptions=%llu",
              c.requests, c.silent, c.late, c.corrupt, c.exception, c.garbage, sum.valid,
              sum.timeouts, sum.wrongSlave, sum.badCrc, sum.exceptions);
        QVERIFY(c.silent > 0 && c.late > 0 && c.corrupt > 0 && c.exception > 0 && c.garbage > 0);
        QCOMPARE(c.bad, quint64(0));     // every request well formed
        QCOMPARE(c.ignored, quint64(0)); // and addressed to a slave on its link
        QCOMPARE(sum.requests, c.requests);
        QCOMPARE(sum.exceptions, c.exception);
        QCOMPARE(sum.badCrc, c.corrupt);
        // Noise only ever comes ahead of a good reply, and the good reply is found behind it.
        QCOMPARE(sum.wrongLength, quint64(0));
        QCOMPARE(sum.garbage, quint64(0));
        // Replies sent in time: everything but the faults that withhold or spoil one.
        quint64 okReplies = 0;
        quint64 lateServed = 0;
        for (const auto &[slave, r] : repliesOf) {
            okReplies += quint64(r[0]);
            lateServed += quint64(r[1]);
        }
        QCOMPARE(okReplies, c.requests - c.silent - c.late - c.corrupt - c.exception);
        // A silent slave and a late reply both end in a time-out, or in a stray late reply of
        // the previous slave seen as a wrong-slave reply. A late reply caught at the deadline
        // (the event loop ran late) counts as valid instead; at most every late one.
        const quint64 takenLate = sum.valid - okReplies;
        QVERIFY(takenLate <= lateServed);
        QCOMPARE(sum.timeouts + sum.wrongSlave + takenLate, c.silent + c.late);
        QVERIFY(sum.timeouts + sum.wrongSlave >= c.silent);
    }
};

int main(int argc, char **argv) {
    // A long hand run outlasts Qt Test's five-minute watchdog.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT",
                QByteArray::number((soak::envInt("SOAK_SECONDS", 60) + 300) * 1000LL));
    QApplication app(argc, argv);
    TestFaultSoak test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_fault_soak.moc"
