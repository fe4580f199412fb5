#include "traffic.h"

#include "capturefile.h"
#include "frametext.h"
#include "poll.h"

#include <chrono>

namespace traffic {

Traffic::Traffic(const QString &capturePath, QObject *parent)
    : QObject(parent) {
    if (!capturePath.isEmpty())
        capture_ = new CaptureFile(capturePath, CaptureFile::defaultSizeLimit, this);
}

void Traffic::addLink(int link, modbus::LinkPoll &poll) {
    polls_[std::size_t(link)] = &poll;
    listen();
}

void Traffic::listen() {
    for (int link = 0; link < modbus::linkCount; ++link) {
        auto &connection = listening_[std::size_t(link)];
        modbus::LinkPoll *poll = polls_[std::size_t(link)];
        if (isRecording() && poll && !connection)
            connection = connect(poll, &modbus::LinkPoll::frame, this,
                                 [this, link](const modbus::FrameRecord &f) { record(link, f); });
        else if (!isRecording() && connection)
            disconnect(std::exchange(connection, {}));
    }
}

void Traffic::record(int link, modbus::FrameRecord frame) {
    if (!isRecording())
        return;
    frame.link = link;
    if (capture_)
        capture_->append(captureLine(frame));
    log_.append(std::move(frame));
    emit recorded();
}

QString linkEventName(LinkEvent event) {
    switch (event) {
    case LinkEvent::Opened:
        return QStringLiteral("opened");
    case LinkEvent::OpenFailed:
        return QStringLiteral("open failed");
    case LinkEvent::Lost:
        return QStringLiteral("lost");
    case LinkEvent::Reopened:
        return QStringLiteral("reopened");
    case LinkEvent::Closed:
        return QStringLiteral("closed by the operator");
    }
    return {};
}

void Traffic::linkEvent(int link, LinkEvent event, const QString &detail) {
    if (!isRecording())
        return;
    using namespace std::chrono;
    modbus::FrameRecord r;
    r.verdict = modbus::FrameVerdict::Link;
    // The polls' own clocks.
    r.monoMicros = duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    r.wallMicros = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    r.note = detail.isEmpty() ? linkEventName(event)
                              : linkEventName(event) + QStringLiteral(": ") + detail;
    record(link, std::move(r));
}

void Traffic::watch(bool on) {
    watchers_ = std::max(0, watchers_ + (on ? 1 : -1));
    listen();
}

} // namespace traffic
