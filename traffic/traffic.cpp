#include "traffic.h"

#include "capturefile.h"
#include "frametext.h"

namespace traffic {

QString captureFileFromEnvironment() {
    return qEnvironmentVariable(captureVariable);
}

Traffic::Traffic(const QString &capturePath, QObject *parent)
    : QObject(parent) {
    if (!capturePath.isEmpty())
        capture_ = new CaptureFile(capturePath, CaptureFile::defaultSizeLimit, this);
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
}

} // namespace traffic
