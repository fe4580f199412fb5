#pragma once

#include "trafficlog.h"

#include <QObject>

namespace traffic {

class CaptureFile;

// The variable that names the capture file; unset or empty: no file.
inline constexpr char captureVariable[] = "RTU_STATION_TRAFFIC";
QString captureFileFromEnvironment();

// A station's traffic: the frames of both links, kept in the log while someone looks at it and
// written to the capture file when there is one. With neither, a frame costs one test.
class Traffic : public QObject {
    Q_OBJECT
public:
    // An empty path: no capture file.
    explicit Traffic(const QString &capturePath = {}, QObject *parent = nullptr);

    // One frame of a link, as the poll emitted it.
    void record(int link, modbus::FrameRecord frame);
    bool isRecording() const { return watchers_ > 0 || capture_ != nullptr; }

    // A view that shows the log counts itself in while it is open.
    void watch(bool on);
    TrafficLog &log() { return log_; }
    const TrafficLog &log() const { return log_; }
    CaptureFile *capture() const { return capture_; }

signals:
    void recorded();

private:
    TrafficLog log_;
    CaptureFile *capture_ = nullptr; // a child, or none
    int watchers_ = 0;
};

} // namespace traffic
