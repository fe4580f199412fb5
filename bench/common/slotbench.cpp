#include "slotbench.h"

#include "qserialtransport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace bench {

SlotBenchResult runSlotBench(const SlotBenchSetup &setup) {
    SlotBenchResult result;
    QSerialTransport port;
    port.setPortNumber(setup.portNumber);
    if (!port.open())
        return result;
    result.opened = true;

    modbus::PollBinding binding{
        [](int slot) { return slot == 0; }, [&setup](int) { return setup.slave; },
        [&setup] { return setup.start; },   [&setup] { return setup.count; },
        [](int, modbus::SlotColour) {},
    };
    modbus::LinkPoll poll(port, std::move(binding));
    poll.setReplyTimeout(setup.replyTimeoutMs);

    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    qint64 sentAt = 0;
    int turns = 0;
    QObject::connect(&poll, &modbus::LinkPoll::requestSent, [&](int) {
        const qint64 now = clock.nsecsElapsed();
        if (turns > 0)
            result.cycleMs.push_back(double(now - sentAt) / 1e6);
        sentAt = now;
    });
    QObject::connect(
        &poll, &modbus::LinkPoll::slotFinished, [&](int slot, const modbus::SlotResult &r) {
            const qint64 now = clock.nsecsElapsed();
            if (slot != 0)
                return;
            ++turns;
            const bool valuesRight = r.outcome != modbus::SlotOutcome::Valid ||
                                     !setup.checkValues || setup.checkValues(r.registers);
            if (r.outcome == setup.expected && valuesRight) {
                result.turnMs.push_back(double(now - sentAt) / 1e6);
                result.stationMs.push_back(double(r.responseMicros) / 1e3);
            } else {
                ++result.unexpected;
            }
        });
    QObject::connect(&poll, &modbus::LinkPoll::finished, [&] {
        if (turns < setup.transactions)
            poll.start();
        else
            loop.quit();
    });
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [&] {
        result.timedOut = true;
        loop.quit();
    });
    bound.start(setup.transactions * (setup.replyTimeoutMs + 1000));

    poll.start();
    loop.exec();
    poll.cancel();
    port.close();
    return result;
}

} // namespace bench
