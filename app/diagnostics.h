#pragma once

#include "slotstats.h"
#include "stationshape.h"

#include <QObject>
#include <array>

class QCheckBox;
class QLineEdit;
class ReadingGrid;

// Per-slot counts shown in the tooltips of the slot's enable box and its column's header cell,
// and grey for the values a slot's latest poll did not refresh. Texts are never changed.
class Diagnostics : public QObject {
    Q_OBJECT
public:
    struct Link {
        modbus::LinkPoll *poll = nullptr;
        std::array<QCheckBox *, modbus::slotCount> boxes{};
        std::array<QLineEdit *, modbus::slotCount> ids{};
        int firstColumn = 0;
    };

    Diagnostics(ReadingGrid &grid, std::array<Link, modbus::linkCount> links,
                QObject *parent = nullptr);

    const modbus::SlotStats &stats(int link, int slot) const { return stats_[link][slot]; }
    void reset(int link, int slot);
    // Link and slot of a grid column, if a slot feeds it.
    static std::optional<std::pair<int, int>> slotOfColumn(int column);

private:
    void onSlotFinished(int link, int slot, const modbus::SlotResult &result);
    void markStale(int link, int slot, int freshRows);
    void showTooltips(int link, int slot);

    ReadingGrid &grid_;
    std::array<Link, modbus::linkCount> links_;
    std::array<std::array<modbus::SlotStats, modbus::slotCount>, modbus::linkCount> stats_{};
};
