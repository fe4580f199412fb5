#include "capturefile.h"
#include "faketransport.h"
#include "frames.h"
#include "frametext.h"
#include "poll.h"
#include "traffic.h"
#include "trafficmodel.h"
#include "trafficwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QPaintEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace modbus;
using namespace traffic;

namespace {

FrameRecord frame(int link, FrameVerdict verdict, int slave, const QByteArray &hex,
                  qint64 monoMicros = 0) {
    FrameRecord f;
    f.link = link;
    f.verdict = verdict;
    f.slave = slave;
    f.slot = slave < 0 ? -1 : 0;
    f.bytes = QByteArray::fromHex(hex);
    f.direction = verdict == FrameVerdict::Request ? FrameDirection::Out : FrameDirection::In;
    f.wallMicros = 1'765'000'000'000'000 + monoMicros;
    f.monoMicros = monoMicros;
    f.silenceMicros = 5000;
    return f;
}

FrameRecord noise(int link, int bytes, qint64 monoMicros,
                  FrameVerdict verdict = FrameVerdict::Noise) {
    FrameRecord f = frame(link, verdict, -1, {}, monoMicros);
    f.bytes = QByteArray(bytes, '\xAA');
    return f;
}

// An answer to the start-up request, registers 1139..1150, as slave 2 would give it.
QByteArray reply(bool good = true, char slave = 2) {
    QByteArray frame = QByteArray::fromHex("0318");
    frame.prepend(slave);
    for (int r = 0; r < 12; ++r)
        frame += char(0x07), frame += char(r);
    frame = withCrc(frame);
    if (!good)
        frame[5] = char(frame[5] ^ 0x40);
    return frame;
}

QList<QByteArrayList> fileLines(const QString &path) {
    QFile file(path);
    QList<QByteArrayList> lines;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (!line.isEmpty())
                lines << line.split('\t');
    return lines;
}

FrameRecord exception(int slave, std::uint8_t code) {
    FrameRecord f = frame(0, FrameVerdict::Exception, slave, "3C83");
    f.bytes += char(code);
    f.exceptionCode = code;
    return f;
}

// Slot 0 alone, slave 2, the start-up register block.
PollBinding startUpBinding() {
    return {[](int slot) { return slot == 0; }, [](int) { return QStringLiteral("2"); },
            [] { return QStringLiteral("1139"); }, [] { return QStringLiteral("12"); },
            [](int, SlotColour) {}};
}

// Link 0: slave 2 answers, slave 60 answers with an exception; link 1: slave 9 stays silent.
const std::vector<FrameRecord> recordedSet{
    frame(0, FrameVerdict::Request, 2, "02030473000CB517", 123'456),
    frame(0, FrameVerdict::Valid, 2, "020318"),
    frame(0, FrameVerdict::Request, 60, "3C030473000C"),
    exception(60, 2),
    frame(1, FrameVerdict::Request, 9, "09030473000C"),
    frame(1, FrameVerdict::TimeOut, 9, ""),
};

} // namespace

class TestTraffic : public QObject {
    Q_OBJECT

private slots:
    // Noise on a link merges into one row per burst; anything else on that link, or a long
    // quiet, starts a new row. Kept bytes are capped, the count is not.
    void noiseMergesPerBurst_data() {
        QTest::addColumn<std::vector<FrameRecord>>("frames");
        QTest::addColumn<QList<int>>("rowBytes"); // byte count of each row, oldest first
        QTest::newRow("one burst")
            << std::vector{noise(0, 3, 0), noise(0, 5, 100), noise(0, 7, 200)} << QList<int>{15};
        QTest::newRow("other link between")
            << std::vector{noise(0, 3, 0), frame(1, FrameVerdict::Request, 9, "0903"),
                           noise(0, 4, 300)}
            << QList<int>{7, 2};
        QTest::newRow("request between")
            << std::vector{noise(0, 3, 0), frame(0, FrameVerdict::Request, 2, "0203"),
                           noise(0, 4, 300)}
            << QList<int>{3, 2, 4};
        QTest::newRow("long quiet")
            << std::vector{noise(0, 3, 0), noise(0, 4, 2'000'000)} << QList<int>{3, 4};
        // The quiet that ends a burst runs from its last piece: a second of it, not less.
        QTest::newRow("a second's quiet")
            << std::vector{noise(0, 3, 0), noise(0, 4, 1'000'000)} << QList<int>{3, 4};
        QTest::newRow("slow babble")
            << std::vector{noise(0, 3, 0), noise(0, 3, 900'000), noise(0, 3, 1'800'000)}
            << QList<int>{9};
        const auto lateOf = [](int slot, qint64 monoMicros) {
            FrameRecord f = noise(0, 4, monoMicros, FrameVerdict::Late);
            f.slot = slot;
            f.slave = 2 + slot;
            return f;
        };
        QTest::newRow("late replies of two slots")
            << std::vector{lateOf(0, 0), lateOf(1, 100)} << QList<int>{4, 4};
        QTest::newRow("stray bytes between polls")
            << std::vector{noise(0, 3, 0, FrameVerdict::Late), noise(0, 4, 100, FrameVerdict::Late),
                           noise(0, 5, 200)}
            << QList<int>{7, 5};
        QTest::newRow("babbling") << std::vector{noise(1, 200, 0), noise(1, 200, 10),
                                                 noise(1, 200, 20)}
                                  << QList<int>{600};
    }
    void noiseMergesPerBurst() {
        QFETCH(std::vector<FrameRecord>, frames);
        QFETCH(QList<int>, rowBytes);
        TrafficLog log;
        for (const FrameRecord &f : frames)
            log.append(f);
        QCOMPARE(log.size(), rowBytes.size());
        for (int row = 0; row < rowBytes.size(); ++row) {
            const TrafficEntry &e = log.at(log.firstSeq() + quint64(row));
            QCOMPARE(e.byteCount, rowBytes[row]);
            QVERIFY(e.frame.bytes.size() <= TrafficLog::keptNoiseBytes);
            // The row says how many bytes came, and when it kept only the first of them.
            const QString detail = verdictDetail(e.frame, e.byteCount);
            if (e.frame.verdict == FrameVerdict::Noise || e.frame.verdict == FrameVerdict::Late)
                QVERIFY2(detail.startsWith(QString::number(rowBytes[row]) + " bytes") &&
                             detail.contains(" kept") ==
                                 (rowBytes[row] > TrafficLog::keptNoiseBytes) &&
                             detail.contains(" kept") == detail.contains(", first 256 kept"),
                         qPrintable(detail));
        }
    }

    // The poll's frames of scripted exchanges land in the log with their verdicts, silences
    // and pieces.
    void pollExchangesAreRecorded_data() {
        const auto V = [](std::initializer_list<FrameVerdict> list) {
            QList<int> verdicts;
            for (FrameVerdict v : list)
                verdicts << int(v);
            return verdicts;
        };
        using enum FrameVerdict;
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<int>>("verdicts");
        QTest::addColumn<int>("replyPieces"); // of the last frame in; 0: not checked
        QTest::newRow("valid, after 10 ms") << "valid" << V({Request, Valid}) << 1;
        QTest::newRow("exception") << "exception" << V({Request, Exception}) << 1;
        QTest::newRow("bad crc") << "bad crc" << V({Request, BadCrc}) << 1;
        // A byte after it: the wait ends once the line settles, and the record still says why.
        QTest::newRow("bad crc, then a byte") << "bad crc + byte" << V({Request, BadCrc}) << 0;
        QTest::newRow("wrong slave") << "wrong slave" << V({Request, WrongSlave}) << 1;
        QTest::newRow("late") << "late" << V({Request, TimeOut, Late}) << 1;
        QTest::newRow("echo") << "echo" << V({Request, Echo, Valid}) << 1;
        QTest::newRow("time-out") << "time-out" << V({Request, TimeOut}) << 0;
        QTest::newRow("chunked") << "chunked" << V({Request, Valid}) << int(reply().size());
        QTest::newRow("noise first") << "noise" << V({Request, Noise, Valid}) << 1;
    }
    void pollExchangesAreRecorded() {
        QFETCH(QString, script);
        QFETCH(QList<int>, verdicts);
        QFETCH(int, replyPieces);
        constexpr int timeoutMs = 150;
        FakeTransport port;
        port.open();
        LinkPoll poll(port, startUpBinding());
        poll.setReplyTimeout(timeoutMs);
        Traffic traffic;
        traffic.addLink(1, poll);
        traffic.watch(true);
        const auto feedLater = [&port](int ms, QByteArray bytes) {
            QTimer::singleShot(ms, &port, [&port, bytes] { port.feed(bytes); });
        };
        port.onWrite = [&](const QByteArray &request) {
            if (script == "valid")
                feedLater(10, reply());
            else if (script == "exception")
                port.feed(withCrc(QByteArray::fromHex("028302")));
            else if (script == "bad crc")
                port.feed(reply(false));
            else if (script == "bad crc + byte")
                port.feed(reply(false) + QByteArray::fromHex("55"));
            else if (script == "wrong slave")
                port.feed(reply(true, 5));
            else if (script == "late")
                feedLater(timeoutMs + 30, reply());
            else if (script == "echo")
                port.feed(request + reply());
            else if (script == "chunked")
                for (char b : reply())
                    feedLater(0, QByteArray(1, b));
            else if (script == "noise")
                port.feed(QByteArray::fromHex("FF00FF") + reply());
        };
        QSignalSpy done(&poll, &LinkPoll::finished);
        QVERIFY(poll.start());
        QVERIFY(done.wait(5000));
        const TrafficLog &log = traffic.log();
        QTRY_COMPARE_WITH_TIMEOUT(log.size(), verdicts.size(), 2000);
        QList<int> seen;
        for (quint64 seq = log.firstSeq(); seq < log.endSeq(); ++seq)
            seen << int(log.at(seq).frame.verdict);
        QCOMPARE(seen, verdicts);
        const FrameRecord &request = log.at(log.firstSeq()).frame;
        QCOMPARE(request.bytes, QByteArray::fromHex("02030473000CB517"));
        QCOMPARE(request.link, 1);
        QCOMPARE(request.direction, FrameDirection::Out);
        const FrameRecord &last = log.at(log.endSeq() - 1).frame;
        QCOMPARE(last.slave, 2);
        if (replyPieces > 0)
            QCOMPARE(last.pieces, replyPieces);
        // A reply 10 ms after the request is well clear of it; one read back at once is not.
        if (script == "valid") {
            QVERIFY(!silenceTooShort(last) && last.silenceMicros >= 5000);
            // Which register holds which value, in the row's detail and in the capture line.
            const QString values = QStringLiteral("1139=1792, 1140=1793, ");
            QVERIFY2(verdictDetail(last, last.bytes.size()).contains(values),
                     qPrintable(verdictDetail(last, last.bytes.size())));
            QVERIFY(captureLine(last).contains(values.toUtf8() + "1141=1794"));
            QVERIFY(captureLine(last).trimmed().endsWith("1150=1803"));
        }
        if (script == "echo")
            QVERIFY(silenceTooShort(log.at(log.firstSeq() + 1).frame));
    }

    // A batch of rows below what is shown (scrolled up) repaints nothing; at the bottom, the
    // table scrolls to them and paints only them.
    void rowsOutOfSightRepaintNothing() {
        Traffic traffic;
        TrafficWindow window(traffic);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto add = [&](int n) {
            for (int i = 0; i < n; ++i)
                traffic.record(0, frame(0, FrameVerdict::Request, 2, "02030473000CB517"));
            window.model()->sync();
        };
        add(300);
        QScrollBar *bar = window.table()->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());
        struct Paints : QObject {
            int count = 0;
            int height = 0; // of the tallest painted area
            bool eventFilter(QObject *, QEvent *e) override {
                if (e->type() == QEvent::Paint) {
                    ++count;
                    height = std::max(height, static_cast<QPaintEvent *>(e)->rect().height());
                }
                return false;
            }
        } paints;
        window.table()->viewport()->installEventFilter(&paints);
        for (bool following : {false, true}) {
            bar->setValue(following ? bar->maximum() : 10);
            QCoreApplication::processEvents();
            paints.count = paints.height = 0;
            const int range = bar->maximum();
            add(5);
            QTRY_VERIFY(bar->maximum() > range); // laid out
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            QCOMPARE(paints.count > 0, following);
            QVERIFY(paints.height <= 6 * window.table()->rowHeight(0));
        }
    }

    void ringKeepsTheNewest() {
        TrafficLog log(100);
        for (int i = 0; i < 1000; ++i)
            log.append(frame(0, FrameVerdict::Request, 2, "02", i));
        QVERIFY(log.size() >= 100 && log.size() <= 101);
        QCOMPARE(log.endSeq(), 1000u);
        QCOMPARE(log.at(log.endSeq() - 1).frame.monoMicros, 999);
        QCOMPARE(log.at(log.firstSeq()).frame.monoMicros, qint64(log.firstSeq()));
    }

    // Lines reach the file within a second without being asked for; a file that cannot be
    // written drops and counts them.
    void captureFileWritesOrCountsDrops_data() {
        QTest::addColumn<QString>("path"); // relative: inside a fresh folder
        QTest::addColumn<bool>("writable");
        QTest::newRow("file") << "traffic.tsv" << true;
        QTest::newRow("missing folder") << "no/such/folder/traffic.tsv" << false;
        QTest::newRow("full disk") << "/dev/full" << false;
        // Opened and written without waiting: no reader, no lines, no hold-up.
        QTest::newRow("FIFO without a reader") << "fifo" << false;
    }
    void captureFileWritesOrCountsDrops() {
        QFETCH(QString, path);
        QFETCH(bool, writable);
        if (path.startsWith('/') && !QFile::exists(path))
            QSKIP("no /dev/full here");
        QTemporaryDir dir;
        const QString file = path.startsWith('/') ? path : dir.filePath(path);
        if (path == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        Traffic traffic(file);
        QVERIFY(traffic.isRecording());
        QSignalSpy drops(traffic.capture(), &CaptureFile::dropsChanged);
        for (const FrameRecord &f : recordedSet)
            traffic.record(f.link, f);
        // A poll pass goes on as ever, whatever becomes of its lines.
        FakeTransport port;
        port.open();
        port.onWrite = [&port](const QByteArray &) { port.feed(reply()); };
        LinkPoll poll(port, startUpBinding());
        traffic.addLink(0, poll);
        QSignalSpy results(&poll, &LinkPoll::slotFinished);
        QVERIFY(poll.start());
        QTRY_VERIFY_WITH_TIMEOUT(!poll.isRunning(), 5000);
        QCOMPARE(results.at(0).at(1).value<SlotResult>().outcome, SlotOutcome::Valid);
        const qsizetype lineCount = qsizetype(recordedSet.size()) + 2;
        QCOMPARE(traffic.log().size(), lineCount);
        if (!writable) {
            QTRY_COMPARE_WITH_TIMEOUT(traffic.capture()->droppedLines(), quint64(lineCount), 2000);
            QVERIFY(!traffic.capture()->dropReason().isEmpty());
            TrafficWindow window(traffic);
            QVERIFY(window.statusText().contains(QStringLiteral("8 lines dropped: ")));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(fileLines(file).size(), lineCount, 2000);
        const auto lines = fileLines(file);
        QCOMPARE(drops.count(), 0);
        QCOMPARE(lines[0].size(), 8);
        QCOMPARE(lines[0][4], QByteArray("02 03 04 73 00 0C B5 17"));
        // Wall time to the microsecond: 1 765 000 000.123456 s is 40.123456 s past a minute.
        QVERIFY2(lines[0][0].endsWith(":40.123456"), lines[0][0].constData());
        QCOMPARE(lines[3][3], QByteArray("60"));
        QVERIFY(lines[3][7].contains("Illegal data address"));
        QCOMPARE(lines[5][1], QByteArray("1"));
        QCOMPARE(lines[5][6], QByteArray("time-out"));
        // More than one tick's pieces at once: the rest follows at the next ticks, unasked.
        for (int i = 0; i < 3000; ++i)
            traffic.capture()->append(QByteArray(99, 'x') + '\n');
        QTRY_COMPARE_WITH_TIMEOUT(fileLines(file).size(), lineCount + 3000, 5000);
    }

    // The file at the path is the one written: one removed or renamed under the writer is
    // begun anew, one truncated is counted from its new size (no early rotation); a FIFO whose
    // reader went away is a counted write error, never the end of the process.
    void captureFileFollowsThePath_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("removed") << "removed";
        QTest::newRow("renamed") << "renamed";
        QTest::newRow("renamed, a new one made") << "replaced"; // as log rotation does
        QTest::newRow("truncated") << "truncated";
        QTest::newRow("FIFO reader gone") << "reader gone";
        // The pipe takes part of the lines: the rest is dropped and counted, and the line cut
        // in two is ended before the next one, which arrives whole.
        QTest::newRow("FIFO reader behind") << "reader behind";
    }
    void captureFileFollowsThePath() {
        QFETCH(QString, change);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("traffic.tsv"));
        const QByteArray line = QByteArray(99, 'x') + '\n';
        const bool fifo = change.startsWith("reader");
        int reader = -1;
        if (fifo) {
            std::signal(SIGPIPE, SIG_IGN); // as the station does
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
            QVERIFY(reader >= 0);
        }
        const auto drain = [&reader] {
            QByteArray got(1 << 17, '\0');
            const ssize_t n = ::read(reader, got.data(), size_t(got.size()));
            got.resize(std::max<ssize_t>(n, 0));
            return got;
        };
        if (change == "reader behind" && ::fcntl(reader, F_SETPIPE_SZ, 4096) != 4096)
            QSKIP("no pipe of one 4 KiB page here");
        CaptureFile capture(path, 1500);
        auto write = [&](int lines) {
            for (int i = 0; i < lines; ++i)
                capture.append(line);
            capture.flush();
        };
        write(12);
        QCOMPARE(capture.writtenLines(), 12u);
        if (change == "removed")
            QVERIFY(QFile::remove(path));
        else if (change == "renamed" || change == "replaced")
            QVERIFY(QFile::rename(path, path + ".old") &&
                    (change == "renamed" || QFile(path).open(QIODevice::WriteOnly)));
        else if (change == "truncated")
            QVERIFY(QFile::resize(path, 0));
        else if (change == "reader gone")
            ::close(reader);
        if (change == "reader behind") {
            QCOMPARE(drain().size(), 12 * line.size());
            for (int i = 0; i < 12; ++i)
                capture.append(QByteArray(499, 'y') + '\n');
            capture.flush();
            // 4096 bytes went: eight lines and part of the ninth.
            QCOMPARE(capture.writtenLines(), 12u + 8u);
            QCOMPARE(capture.droppedLines(), 4u);
            QVERIFY(capture.dropReason().contains("not keeping up"));
            const QByteArray next = QByteArray(9, 'z') + '\n';
            capture.append(next); // into a full pipe: dropped, and the cut line still open
            capture.flush();
            QCOMPARE(capture.droppedLines(), 5u);
            QCOMPARE(drain().size(), 4096);
            capture.append(next);
            capture.flush();
            QCOMPARE(drain(), '\n' + next);
            QCOMPARE(capture.writtenLines(), 12u + 8u + 1u);
            QCOMPARE(capture.droppedLines(), 5u);
            ::close(reader);
            return;
        }
        write(12);
        if (fifo) {
            QCOMPARE(capture.writtenLines(), 12u);
            QCOMPARE(capture.droppedLines(), 12u);
            QVERIFY(!capture.dropReason().isEmpty());
            return;
        }
        QCOMPARE(capture.droppedLines(), 0u);
        QCOMPARE(fileLines(path).size(), 12);
        QVERIFY(!QFile::exists(path + ".1"));
        if (change != "removed" && change != "truncated")
            QCOMPARE(fileLines(path + ".old").size(), 12);
    }

    // At the limit the live file becomes FILE.1, whole, every time; the old FILE.1 goes. A file
    // already there at start counts with its size; lines still buffered at the end are written.
    void captureFileRotates_data() {
        QTest::addColumn<int>("existing"); // bytes already in the file, in whole lines
        QTest::addColumn<int>("lines");    // of 100 bytes, flushed ten at a time
        QTest::newRow("rotated twice") << 0 << 50;
        QTest::newRow("lines still buffered at the end") << 0 << 47;
        QTest::newRow("an existing file near the limit") << 1950 << 10;
    }
    void captureFileRotates() {
        QFETCH(int, existing);
        QFETCH(int, lines);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("traffic.tsv"));
        const qint64 limit = 2000;
        QByteArray stream; // everything written to the path, in order
        while (stream.size() < existing)
            stream += QByteArray(std::min<qsizetype>(99, existing - stream.size() - 1), 'y') + '\n';
        if (existing > 0) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(stream) == existing);
        }
        {
            CaptureFile capture(path, limit);
            for (int i = 0; i < lines; ++i) {
                const QByteArray line =
                    QByteArray::number(i).rightJustified(4, '0') + QByteArray(95, 'x') + '\n';
                stream += line;
                capture.append(line);
                if (i % 10 == 9)
                    capture.flush();
            }
        }
        const auto contents = [](const QString &name) {
            QFile file(name);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray current = contents(path);
        const QByteArray previous = contents(path + QStringLiteral(".1"));
        QVERIFY(current.size() > 0 && current.size() <= limit);
        QVERIFY(previous.size() > 0 && previous.size() <= limit);
        QVERIFY(!QFile::exists(path + QStringLiteral(".2")));
        // Nothing lost at a rotation or at the end, nothing older than FILE.1 kept.
        QVERIFY(stream.endsWith(previous + current));
    }

    // The table follows the newest row whatever the row count, also at the log's cap, where the
    // oldest rows go from under a current row; once the operator scrolls up it stays put.
    void windowFollowsTheNewest_data() {
        QTest::addColumn<int>("frames");
        QTest::newRow("a few hundred") << 500;
        QTest::newRow("past the cap") << int(TrafficLog::defaultCapacity) + 1000;
    }
    void windowFollowsTheNewest() {
        QFETCH(int, frames);
        Traffic traffic;
        TrafficWindow window(traffic);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTableView *table = window.table();
        QScrollBar *bar = table->verticalScrollBar();
        auto feed = [&](int count) {
            for (int i = 0; i < count; i += 100) {
                for (int j = 0; j < 100; ++j)
                    traffic.record(0, frame(0, FrameVerdict::Request, 2, "02", i + j));
                window.model()->sync();
                if (!table->currentIndex().isValid()) // as a table given the focus has one
                    table->setCurrentIndex(window.model()->index(0, 0));
                QTest::qWait(1); // the view lays itself out
            }
        };
        feed(frames);
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        const int held = bar->value();
        QVERIFY(held < bar->maximum());
        feed(300);
        QVERIFY(bar->value() < bar->maximum());
        QVERIFY(bar->value() <= held);
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        feed(300);
        QCOMPARE(bar->value(), bar->maximum());
    }

    // The table shows what the filter lets through; paused, it holds still; nothing is recorded
    // while no one looks and no file is set.
    void windowFiltersAndPauses_data() {
        QTest::addColumn<int>("link");  // -1: both
        QTest::addColumn<int>("slave"); // -1: all
        QTest::addColumn<int>("rows");
        QTest::newRow("all") << -1 << -1 << 6;
        QTest::newRow("link 0") << 0 << -1 << 4;
        QTest::newRow("slave 60") << -1 << 60 << 2;
        QTest::newRow("link 1, slave 9") << 1 << 9 << 2;
        QTest::newRow("link 1, slave 2") << 1 << 2 << 0;
    }
    void windowFiltersAndPauses() {
        QFETCH(int, link);
        QFETCH(int, slave);
        QFETCH(int, rows);
        Traffic traffic;
        QVERIFY(!traffic.isRecording());
        traffic.record(0, recordedSet[0]);
        QCOMPARE(traffic.log().size(), 0);

        TrafficWindow window(traffic);
        window.show();
        for (const FrameRecord &f : recordedSet)
            traffic.record(f.link, f);
        window.showOnly(link < 0 ? std::nullopt : std::optional(link),
                        slave < 0 ? std::nullopt : std::optional(slave));
        TrafficModel *model = window.model();
        QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), rows, 2000);
        model->sync(); // with nothing to show, the batch may not have run yet

        auto *pause = window.findChild<QPushButton *>();
        QVERIFY(pause);
        QCOMPARE(pause->text(), QStringLiteral("Pause"));
        pause->click();
        for (const FrameRecord &f : recordedSet)
            traffic.record(f.link, f);
        model->sync();
        QCOMPARE(model->rowCount(), rows);
        QVERIFY(window.statusText().contains(QStringLiteral("6 new frames")));
        pause->click();
        QCOMPARE(model->rowCount(), 2 * rows);
        // Paused while the log drops its oldest rows: on resuming, the table holds what the log
        // still holds, and never more.
        pause->click();
        for (qsizetype i = 0; i < TrafficLog::defaultCapacity * 11 / 10; ++i)
            traffic.record(recordedSet[std::size_t(i) % recordedSet.size()].link,
                           recordedSet[std::size_t(i) % recordedSet.size()]);
        const TrafficLog &log = traffic.log();
        QVERIFY(log.firstSeq() > 0);
        QVERIFY(model->heldBack() <= quint64(log.size()));
        pause->click();
        int kept = 0;
        for (quint64 seq = log.firstSeq(); seq < log.endSeq(); ++seq)
            kept += (link < 0 || log.at(seq).frame.link == link) &&
                    (slave < 0 || log.at(seq).frame.slave == slave);
        QCOMPARE(model->rowCount(), kept);
        model->sync();
        QCOMPARE(model->rowCount(), kept);

        if (rows > 0) {
            window.table()->selectAll();
            window.copySelection();
            QCOMPARE(QApplication::clipboard()->text().count(u'\n'), kept);
            QTemporaryDir dir;
            QVERIFY(window.saveTo(dir.filePath(QStringLiteral("saved.tsv"))));
            const auto saved = fileLines(dir.filePath(QStringLiteral("saved.tsv")));
            QCOMPARE(saved.size(), 1 + kept);
            QCOMPARE(saved.first().join(' '),
                     "time link direction slave hex silence verdict detail");
            // Every column is wide enough for its text.
            for (int row = 0; row < model->rowCount(); ++row)
                for (int column : {int(TrafficModel::Slave), int(TrafficModel::Verdict)})
                    QVERIFY(window.table()->columnWidth(column) >
                            window.table()->fontMetrics().horizontalAdvance(
                                model->index(row, column).data().toString()));
        }
        QCOMPARE(TrafficWindow::saveName(QDateTime(QDate(2026, 12, 9), QTime(13, 45, 1))),
                 QStringLiteral("traffic-2026-12-09-134501.tsv"));
        model->clear();
        QCOMPARE(model->rowCount(), 0);
        window.hide();
        traffic.record(0, recordedSet[0]);
        QCOMPARE(traffic.log().size(), 0);
    }
};

QTEST_MAIN(TestTraffic)
#include "test_traffic.moc"
