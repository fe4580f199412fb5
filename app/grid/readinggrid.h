#pragma once

#include "stationshape.h"

#include <QString>
#include <QStringList>
#include <QTableWidget>
#include <cstdint>
#include <optional>
#include <span>

// The reading grid: 15 rows by 12 columns, row 0 and column 0 fixed. Every cell holds a text.
class ReadingGrid : public QTableWidget {
    Q_OBJECT
public:
    static constexpr int rows = 15;
    static constexpr int columns = 12;

    explicit ReadingGrid(QWidget *parent = nullptr);

    // Each fails on an index outside the table and then changes nothing.
    bool setCellText(int row, int column, const QString &text);
    std::optional<QString> cellText(int row, int column) const;
    bool setColumnWidthTwips(int column, int widthTwips);
    // A stale cell keeps its text but is drawn in grey.
    void setCellStale(int row, int column, bool stale);
    bool isCellStale(int row, int column) const;

    static bool inside(int row, int column) {
        return row >= 0 && row < rows && column >= 0 && column < columns;
    }
};

// The first column of each link's four slave slots.
constexpr int firstSlotColumn(int link) {
    return 3 + link * modbus::slotCount;
}

// The text a register value is shown with: one blank, then the decimal digits.
QString cellText(std::uint16_t value);

// A slot's register values into its column, the first register in row 1; rows past the grid are
// skipped.
void showValues(ReadingGrid &grid, int column, std::span<const std::uint16_t> values);

// Widths, header row and address column, from the slave address texts of both links and the
// register block's texts.
void layoutGrid(ReadingGrid &grid, const QStringList &link0Ids, const QStringList &link1Ids,
                const QString &startText, const QString &countText);

// The address column names the registers of the block read last, from row 1 on; rows past the
// block are emptied.
void labelBlock(ReadingGrid &grid, int start, int count);

// A slot's header names the slave the slot polled last.
void labelSlave(ReadingGrid &grid, int column, int slave);
