#include "stationwindows.h"

#include "commissionwindow.h"
#include "numbers.h"
#include "trafficwindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QShortcut>

namespace {

void raiseWindow(QWidget &window) {
    window.show();
    window.raise();
    window.activateWindow();
}

// What the commissioning window may see and change of the station: the links' polls, the
// production block's start and the slots, whose boxes stay the one place a slot is set.
commission::StationAccess commissionAccess(StationLinks &links, const QLineEdit &blockStart) {
    commission::StationAccess access;
    for (std::size_t link = 0; link < links.size(); ++link)
        access.polls[link] = links[link].poll;
    access.blockStart = [&blockStart] { return blockStart.text(); };
    access.slotStates = [&links](int link) {
        const LinkControls &controls = links[std::size_t(link)].controls;
        std::vector<commission::SlotState> states;
        for (std::size_t i = 0; i < controls.ids.size(); ++i)
            states.push_back({controls.boxes[i]->isChecked(), controls.ids[i]->text()});
        return states;
    };
    access.putInSlot = [&links](int link, int slot, int slave) {
        const LinkControls &controls = links[std::size_t(link)].controls;
        controls.ids[std::size_t(slot)]->setText(QString::number(slave));
        controls.boxes[std::size_t(slot)]->setChecked(true);
    };
    return access;
}

} // namespace

StationWindows::StationWindows(QWidget &station, traffic::Traffic &traffic, StationLinks &links,
                               const QLineEdit &blockStart)
    : QObject(&station)
    , station_(station)
    , traffic_(traffic)
    , links_(links)
    , blockStart_(blockStart) {
    auto *trafficKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), &station);
    connect(trafficKey, &QShortcut::activated, this, [this] { showTraffic(); });
    // From the traffic and commissioning windows too.
    auto *commissionKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), &station);
    commissionKey->setContext(Qt::ApplicationShortcut);
    connect(commissionKey, &QShortcut::activated, this, [this] { showCommission(); });
}

traffic::TrafficWindow *StationWindows::showTraffic(std::optional<std::pair<int, int>> slot) {
    if (!trafficWindow_) {
        trafficWindow_ = new traffic::TrafficWindow(traffic_, &station_);
        connect(trafficWindow_, &traffic::TrafficWindow::commissionRequested, this,
                &StationWindows::showCommission);
    }
    if (slot) {
        // The slave as the poll reads it from the box.
        const auto &ids = links_[std::size_t(slot->first)].controls.ids;
        const auto number = modbus::strictNumber(ids[std::size_t(slot->second)]->text());
        const auto slave = number ? modbus::roundToInt32(*number) : std::nullopt;
        trafficWindow_->showOnly(slot->first, slave ? std::optional<int>(*slave) : std::nullopt);
    }
    raiseWindow(*trafficWindow_);
    return trafficWindow_;
}

commission::CommissionWindow *StationWindows::showCommission() {
    if (!commissionWindow_)
        commissionWindow_ =
            new commission::CommissionWindow(commissionAccess(links_, blockStart_), &station_);
    raiseWindow(*commissionWindow_);
    return commissionWindow_;
}
