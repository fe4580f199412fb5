#pragma once

#include "stationlink.h"

#include <QObject>

#include <optional>
#include <utility>

class QLineEdit;
class QWidget;

namespace commission {
class CommissionWindow;
}
namespace traffic {
class Traffic;
class TrafficWindow;
} // namespace traffic

// The windows the operator opens beside the station's own: the traffic window (Ctrl+T, or a
// slot's header) and the commissioning window (Ctrl+K, or the traffic window's button). Each is
// made when first asked for and raised after that.
class StationWindows : public QObject {
public:
    StationWindows(QWidget &station, traffic::Traffic &traffic, StationLinks &links,
                   const QLineEdit &blockStart);

    // From a slot's header, showing that slot's slave.
    traffic::TrafficWindow *showTraffic(std::optional<std::pair<int, int>> slot = std::nullopt);
    commission::CommissionWindow *showCommission();

private:
    QWidget &station_;
    traffic::Traffic &traffic_;
    StationLinks &links_;
    const QLineEdit &blockStart_;
    traffic::TrafficWindow *trafficWindow_ = nullptr;
    commission::CommissionWindow *commissionWindow_ = nullptr;
};
