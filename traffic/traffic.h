#pragma once

#include "stationshape.h"
#include "trafficlog.h"

#include <QObject>
#include <array>

namespace modbus {
class LinkPoll;
}

namespace traffic {

class CaptureFile;

// What became of a link's port, for a row of its own among the frames.
enum class LinkEvent { Opened, OpenFailed, Lost, Reopened, Closed };
QString linkEventName(LinkEvent event);

// The variable that names the capture file; unset or empty: no file.
inline constexpr char captureVariable[] = "RTU_STATION_TRAFFIC";

// A station's traffic: the frames of both links, kept in the log while someone looks at it and
// written to the capture file when there is one. With neither it does not listen to the polls,
// and they build no frame records at all.
class Traffic : public QObject {
    Q_OBJECT
public:
    // An empty path: no capture file.
    explicit Traffic(const QString &capturePath = {}, QObject *parent = nullptr);

    // Listens to a link's poll whenever there is something to record.
    void addLink(int link, modbus::LinkPoll &poll);
    // One frame of a link, as the poll emitted it.
    void record(int link, modbus::FrameRecord frame);
    // A change of a link's port, stamped now; `detail` is the device or the reason.
    void linkEvent(int link, LinkEvent event, const QString &detail);
    bool isRecording() const { return watchers_ > 0 || capture_ != nullptr; }

    // A view that shows the log counts itself in while it is open.
    void watch(bool on);
    TrafficLog &log() { return log_; }
    const TrafficLog &log() const { return log_; }
    CaptureFile *capture() const { return capture_; }

signals:
    void recorded();

private:
    void listen();

    TrafficLog log_;
    std::array<modbus::LinkPoll *, modbus::linkCount> polls_{};
    std::array<QMetaObject::Connection, modbus::linkCount> listening_{};
    CaptureFile *capture_ = nullptr; // a child, or none
    int watchers_ = 0;
};

} // namespace traffic
