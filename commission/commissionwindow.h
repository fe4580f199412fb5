#pragma once

#include "busscan.h"

#include <QWidget>
#include <array>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace commission {

// What the window needs of the station, per link.
struct StationAccess {
    std::array<modbus::LinkPoll *, 2> polls{};
    std::function<QString()> blockStart; // the production block's start
    std::function<std::vector<SlotState>(int link)>
        slotStates; // the link's four slotStates as they stand
    std::function<void(int link, int slot, int slave)> putInSlot;
};

// Commissioning a link: find the slaves on it (bus scan), ask one of them a one-off question,
// and see the answer decoded. Nothing here writes the reading grid or the snapshot.
class CommissionWindow : public QWidget {
    Q_OBJECT
public:
    explicit CommissionWindow(StationAccess station, QWidget *parent = nullptr);

    int link() const;
    void setLink(int link);
    BusScan *scan(int link) const { return scans_[std::size_t(link)]; }

    // The controls, for tests and the wiring.
    QLineEdit *scanFrom, *scanTo, *scanTimeout;
    QPushButton *scanButton, *stopButton, *slotButton;
    QProgressBar *scanProgress;
    QTableWidget *foundTable;
    QLineEdit *readSlave, *readStart, *readCount;
    QComboBox *readFunction;
    QPushButton *readButton;
    QTableWidget *decodedTable;
    QLabel *message;

    void startScan();
    void read();
    void putSelectedInSlot();

private:
    void onFound(int link, const Found &found);
    void onAnswer(int link, const modbus::Answer &answer);
    void showLinkState();
    void say(const QString &text, bool problem = false);

    StationAccess station_;
    QComboBox *link_;
    std::array<BusScan *, 2> scans_{};
    std::array<bool, 2> reading_{}; // a one-off question of this window is out on the link
};

} // namespace commission
