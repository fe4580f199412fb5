#include "traffic.h"

#include "capturefile.h"
#include "frametext.h"
#include "poll.h"

namespace traffic {

QString captureFileFromEnvironment() {
    return qEnvironmentVariable(captureVariable);
}

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
    for (int link = 0; link < 2; ++link) {
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

void Traffic::watch(bool on) {
    watchers_ = std::max(0, watchers_ + (on ? 1 : -1));
    listen();
}

} // namespace traffic
