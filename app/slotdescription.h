#pragma once

#include "slotstats.h"

#include <QString>

// Several lines for a tooltip: what the slot asked of whom, and how it went.
QString describeSlot(const modbus::SlotStats &stats, const QString &slaveText, bool enabled);
