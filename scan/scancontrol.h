#pragma once

#include "stationshape.h"

#include <QObject>
#include <QPointer>
#include <array>
#include <functional>

class QPushButton;
class QTimer;

namespace clk {
class Timer;
}

namespace modbus {
class LinkPoll;
}

namespace scan {

inline const QString scanOnCaption = QStringLiteral("Scan ON");
inline const QString scanOffCaption = QStringLiteral("Scan OFF");
inline const QString autoCaption = QStringLiteral("Auto");
inline const QString manualCaption = QStringLiteral("Manual");

// What the cycle drives. The controls belong to the window.
struct ScanControls {
    QPushButton *scanSwitch = nullptr; // PBScan: its caption names the action offered
    std::array<QPushButton *, modbus::linkCount> modes{}; // cmd_auto, cmd_auto1: "Auto" or "Manual"
    QPushButton *testButton = nullptr;                    // cmdTest
    QPushButton *testEnabler = nullptr;                   // cmdAuto
    clk::Timer *cycleTimer = nullptr;                     // Timer3
    QTimer *startTimer = nullptr;                         // Timer2
    std::array<modbus::LinkPoll *, modbus::linkCount> polls{}; // link 0, link 1
    std::function<void()> snapshot;
};

// The acquisition cycle: poll link 0, poll link 1, snapshot, then the cycle timer runs again, so
// the next cycle starts one timer interval after this one ends. The steps follow one another on
// the polls' finished signals; one cycle at a time.
class ScanControl : public QObject {
    Q_OBJECT
public:
    explicit ScanControl(ScanControls controls, QObject *parent = nullptr);

    void autoscan();
    void scanSwitchClicked();
    void startTimerTicked();
    void modeClicked(int link);
    void testEnablerClicked();

    bool cycleRunning() const { return stage_ != Stage::Idle; }
    // The window is going away: the cycle ends where it is.
    void cancel();

signals:
    void cycleStarted();
    void cycleFinished();

private:
    enum class Stage { Idle, Link0, Link1 };

    void runLink(int link);
    void onPollFinished(int link);
    void endCycle();

    ScanControls c_;
    Stage stage_ = Stage::Idle;
    bool started_ = false;
    bool cancelled_ = false;
};

} // namespace scan
