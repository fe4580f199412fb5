#include "capturefile.h"
#include "traffic.h"
#include "trafficmodel.h"
#include "trafficwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

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

FrameRecord noise(int link, int bytes, qint64 monoMicros) {
    FrameRecord f = frame(link, FrameVerdict::Noise, -1, {}, monoMicros);
    f.bytes = QByteArray(bytes, '\xAA');
    return f;
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

// Link 0: slave 2 answers, slave 60 answers with an exception; link 1: slave 9 stays silent.
const std::vector<FrameRecord> recordedSet{
    frame(0, FrameVerdict::Request, 2, "02030473000CB517"),
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
    }
    void captureFileWritesOrCountsDrops() {
        QFETCH(QString, path);
        QFETCH(bool, writable);
        if (path.startsWith('/') && !QFile::exists(path))
            QSKIP("no /dev/full here");
        QTemporaryDir dir;
        const QString file = path.startsWith('/') ? path : dir.filePath(path);
        Traffic traffic(file);
        QVERIFY(traffic.isRecording());
        QSignalSpy drops(traffic.capture(), &CaptureFile::dropsChanged);
        for (const FrameRecord &f : recordedSet)
            traffic.record(f.link, f);
        // Recording went on into the log either way.
        QCOMPARE(traffic.log().size(), qsizetype(recordedSet.size()));
        if (!writable) {
            QVERIFY(drops.wait(2000));
            QCOMPARE(traffic.capture()->droppedLines(), recordedSet.size());
            QVERIFY(!traffic.capture()->dropReason().isEmpty());
            TrafficWindow window(traffic);
            QVERIFY(window.statusText().contains(QStringLiteral("6 lines dropped: ")));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(fileLines(file).size(), qsizetype(recordedSet.size()), 2000);
        const auto lines = fileLines(file);
        QCOMPARE(drops.count(), 0);
        QCOMPARE(lines[0].size(), 8);
        QCOMPARE(lines[0][4], QByteArray("02 03 04 73 00 0C B5 17"));
        QCOMPARE(lines[3][3], QByteArray("60"));
        QVERIFY(lines[3][7].contains("Illegal data address"));
        QCOMPARE(lines[5][1], QByteArray("1"));
        QCOMPARE(lines[5][6], QByteArray("time-out"));
    }

    void captureFileRotates() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("traffic.tsv"));
        const qint64 limit = 2000;
        {
            CaptureFile capture(path, limit);
            const QByteArray line = QByteArray(99, 'x') + '\n';
            for (int i = 0; i < 50; ++i) {
                capture.append(line);
                if (i % 10 == 9)
                    capture.flush();
            }
        }
        const qint64 current = QFileInfo(path).size();
        const qint64 previous = QFileInfo(path + QStringLiteral(".1")).size();
        QVERIFY(current > 0 && current <= limit);
        QVERIFY(previous > 0 && previous <= limit);
        QVERIFY(!QFile::exists(path + QStringLiteral(".2")));
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

        if (rows > 0) {
            window.table()->selectAll();
            window.copySelection();
            QCOMPARE(QApplication::clipboard()->text().count(u'\n'), 2 * rows);
            QTemporaryDir dir;
            QVERIFY(window.saveTo(dir.filePath(QStringLiteral("saved.tsv"))));
            QCOMPARE(fileLines(dir.filePath(QStringLiteral("saved.tsv"))).size(), 2 * rows);
        }
        model->clear();
        QCOMPARE(model->rowCount(), 0);
        window.hide();
        traffic.record(0, recordedSet[0]);
        QCOMPARE(traffic.log().size(), 0);
    }
};

QTEST_MAIN(TestTraffic)
#include "test_traffic.moc"
