#include "diagnostics.h"

#include "readinggrid.h"
#include "slotdescription.h"

#include <QCheckBox>
#include <QLineEdit>

Diagnostics::Diagnostics(ReadingGrid &grid, std::array<Link, modbus::linkCount> links,
                         QObject *parent)
    : QObject(parent)
    , grid_(grid)
    , links_(links) {
    for (int link = 0; link < modbus::linkCount; ++link) {
        connect(links_[link].poll, &modbus::LinkPoll::slotFinished, this,
                [this, link](int slot, const modbus::SlotResult &result) {
                    onSlotFinished(link, slot, result);
                });
        connect(links_[link].poll, &modbus::LinkPoll::lateReply, this, [this, link](int slot) {
            modbus::countLate(stats_[link][slot]);
            showTooltips(link, slot);
        });
        for (int slot = 0; slot < modbus::slotCount; ++slot)
            showTooltips(link, slot);
    }
}

void Diagnostics::reset(int link, int slot) {
    stats_[link][slot] = {};
    showTooltips(link, slot);
}

std::optional<std::pair<int, int>> Diagnostics::slotOfColumn(int column) {
    for (int link = 0; link < modbus::linkCount; ++link) {
        const int slot = column - firstSlotColumn(link);
        if (slot >= 0 && slot < modbus::slotCount)
            return std::pair{link, slot};
    }
    return std::nullopt;
}

void Diagnostics::onSlotFinished(int link, int slot, const modbus::SlotResult &result) {
    if (result.outcome == modbus::SlotOutcome::Disabled)
        return;
    modbus::countSlot(stats_[link][slot], result, QDateTime::currentDateTime());
    markStale(link, slot, result.outcome == modbus::SlotOutcome::Valid ? result.values : 0);
    showTooltips(link, slot);
}

void Diagnostics::markStale(int link, int slot, int freshRows) {
    const int column = links_[link].firstColumn + slot;
    for (int row = 1; row < ReadingGrid::rows; ++row)
        grid_.setCellStale(row, column, row > freshRows && !grid_.cellText(row, column)->isEmpty());
}

void Diagnostics::showTooltips(int link, int slot) {
    const Link &l = links_[link];
    const modbus::SlotStats &stats = stats_[link][slot];
    // The counts name the slave they came from, which the box may no longer hold.
    const QString slave = stats.slave >= 0 ? QString::number(stats.slave) : l.ids[slot]->text();
    const QString text = describeSlot(stats, slave, l.boxes[slot]->isChecked());
    l.boxes[slot]->setToolTip(text);
    if (QTableWidgetItem *header = grid_.item(0, l.firstColumn + slot))
        header->setToolTip(text);
}
