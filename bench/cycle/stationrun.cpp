#include "stationrun.h"

#include "form1.h"
#include "scancontrol.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace bench {

StationRun runStation(QApplication &app, const QString &portPattern, const QStringList &ids1,
                      int cycles) {
    StationRun run;
    qputenv("RTU_STATION_PORTS", portPattern.toLocal8Bit());
    QTemporaryDir csvDir;
    // The window's start-up opens both links; the first cycle starts with the start timer, after
    // the event loop is running, so the slots set here are those polled from the first cycle on.
    auto window = std::make_unique<Form1>(std::array<SerialTransport *, 2>{},
                                          Form1Options{csvDir.filePath("mwRARE.csv")});
    Form1 &form = *window;
    if (form.cmd_coneck->text() != QStringLiteral("DisConnect") ||
        form.cmd_coneck1->text() != QStringLiteral("DisConnect")) {
        std::fprintf(stderr, "bench-cycle: the window did not open both links\n");
        return run;
    }
    for (int i = 0; i < 4; ++i) {
        form.txtaID1[i]->setText(ids1[i]);
        form.cheAID[i]->setChecked(true);
        form.cheAID1[i]->setChecked(true);
    }
    form.show();
    run.count = form.txt_jumlahData->text().toInt();

    using Gap = StationRun::Gap;
    QElapsedTimer clock;
    clock.start();
    qint64 startedAt = 0, sentAt = 0, inTransactions = 0, lastEventAt = 0;
    int lastLink = -1, validInCycle = 0;
    std::array<qint64, StationRun::GapKinds> gapInCycle{};
    QObject::connect(form.scanControl(), &scan::ScanControl::cycleStarted, [&] {
        startedAt = clock.nsecsElapsed();
        validInCycle = 0;
        inTransactions = 0;
        lastEventAt = startedAt;
        lastLink = -1;
        gapInCycle.fill(0);
    });
    // Where a cycle's time goes: inside the transactions (request sent to slot finished) and
    // between them.
    for (int link = 0; link < 2; ++link) {
        QObject::connect(form.poll(link), &modbus::LinkPoll::requestSent, [&, link](int) {
            sentAt = clock.nsecsElapsed();
            const Gap kind = lastLink < 0       ? Gap::BeforeFirst
                             : lastLink == link ? Gap::BetweenSlots
                                                : Gap::BetweenLinks;
            gapInCycle[kind] += sentAt - lastEventAt;
        });
        QObject::connect(form.poll(link), &modbus::LinkPoll::slotFinished,
                         [&, link](int, const modbus::SlotResult &r) {
                             if (r.outcome == modbus::SlotOutcome::Valid) {
                                 lastEventAt = clock.nsecsElapsed();
                                 lastLink = link;
                                 const qint64 took = lastEventAt - sentAt;
                                 inTransactions += took;
                                 run.transactionMs.push_back(double(took) / 1e6);
                                 ++run.valid, ++validInCycle;
                             } else if (r.outcome != modbus::SlotOutcome::Disabled) {
                                 ++run.other;
                             }
                         });
    }
    QObject::connect(form.scanControl(), &scan::ScanControl::cycleFinished, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 took = now - startedAt;
        gapInCycle[Gap::AfterLast] = now - lastEventAt;
        for (int g = 0; g < StationRun::GapKinds; ++g)
            run.gapMs[std::size_t(g)].push_back(double(gapInCycle[std::size_t(g)]) / 1e6);
        run.work.push_back(double(took) / 1e6);
        run.outsideMs.push_back(double(took - inTransactions) / 1e6);
        if (validInCycle != 8)
            ++run.badCycles;
        if (int(run.work.size()) == cycles)
            app.quit();
    });
    // Bounded: a cycle of eight time-outs and the pause take under 5 s.
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] {
        std::fprintf(stderr, "bench-cycle: only %zu cycles in time\n", run.work.size());
        app.exit(1);
    });
    limit.start(5000 + cycles * 5000);
    run.finished = app.exec() == 0;
    return run;
}

} // namespace bench
