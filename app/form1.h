#pragma once

#include "poll.h"
#include "snapshotwriter.h"
#include "stationlink.h"
#include "stationsettings.h"

#include <QByteArrayView>
#include <QString>
#include <QTimer> // Timer1 and Timer2 are used through the window
#include <QWidget>
#include <array>
#include <optional>

class BrowserPane;
class Diagnostics;
class FractionProgressBar;
class PortKeeper;
class ReadingGrid;
class StationWindows;
class UploadPanel;

namespace scan {
class ScanControl;
}
namespace trend {
class Trends;
}
namespace commission {
class CommissionWindow;
}
namespace traffic {
class Traffic;
class TrafficWindow;
} // namespace traffic

struct Form1Options {
    QString csvPath = {}; // empty: mwRARE.csv in the settings' state folder
    int replyTimeoutMs = modbus::LinkPoll::defaultTimeoutMs;
    scan::WriteFunction writeSnapshot = {}; // empty: the real file write
    int snapshotStuckMs = scan::SnapshotWriter::defaultStuckMs;
    int portRetryUnitMs = 1000;  // the step of the back-off on which closed ports are tried
    clk::Clock *clock = nullptr; // of the polls and the cycle; null: the system's
    // Read from the environment when the window is made, when not given.
    std::optional<StationSettings> settings = std::nullopt;
};

// The station's one window. It holds the controls under their own names and wires them to the
// links, the poll, the scan cycle and the upload.
class Form1 : public QWidget {
    Q_OBJECT

    // Both links; the names of their controls below refer into them.
    StationLinks links_;

public:
    using Ports = std::array<SerialTransport *, modbus::linkCount>;

    // Null transports get the station's serial ports; given ones become the window's children.
    explicit Form1(Ports ports = {}, Form1Options options = {}, QWidget *parent = nullptr);
    ~Form1() override;

    // Panels.
    QGroupBox *Frame4, *Frame2;
    QGroupBox *&Frame6 = links_[0].controls.buttonPanel, *&Frame1 = links_[0].controls.portPanel,
              *&Frame3 = links_[0].controls.slotPanel;
    QGroupBox *&Frame14 = links_[1].controls.buttonPanel, *&Frame5 = links_[1].controls.portPanel,
              *&Frame11 = links_[1].controls.slotPanel;
    // Link 0.
    QPushButton *&cmd_coneck = links_[0].controls.connect, *&cmd_auto = links_[0].controls.mode,
                *&cmdTest = links_[0].controls.test;
    QLabel *&Label1 = links_[0].controls.portLabel, *&Label2 = links_[0].controls.baudLabel;
    QComboBox *&ComA = links_[0].controls.port, *&BoudRateA = links_[0].controls.baud;
    std::array<QLineEdit *, modbus::slotCount> &txtaID = links_[0].controls.ids;
    std::array<QCheckBox *, modbus::slotCount> &cheAID = links_[0].controls.boxes;
    SerialTransport *&MSComm = links_[0].port;
    // Link 1.
    QPushButton *&cmd_coneck1 = links_[1].controls.connect, *&cmd_auto1 = links_[1].controls.mode,
                *&cmdTest1 = links_[1].controls.test;
    QLabel *&Label3 = links_[1].controls.portLabel, *&Label4 = links_[1].controls.baudLabel;
    QComboBox *&ComA1 = links_[1].controls.port, *&BoudRateA1 = links_[1].controls.baud;
    std::array<QLineEdit *, modbus::slotCount> &txtaID1 = links_[1].controls.ids;
    std::array<QCheckBox *, modbus::slotCount> &cheAID1 = links_[1].controls.boxes;
    SerialTransport *&MSComm1 = links_[1].port;
    // Register block and scan.
    QLabel *Label9, *Label10;
    QLineEdit *txt_addr, *txt_jumlahData;
    QPushButton *PBScan, *cmdAuto;
    // Readings, snapshot and upload.
    ReadingGrid *tabel;
    QLineEdit *txtPrint, *Text1;
    QLabel *Label5;
    QPushButton *Command5, *Command1, *Command2, *Command3, *Command4;
    FractionProgressBar *ProgressBar1;
    BrowserPane *WebBrowser1;
    QTimer *Timer1, *Timer2;
    clk::Timer *Timer3; // the cycle's pause, on the station's clock

    modbus::LinkPoll *poll(int link) const { return links_[link].poll; }
    scan::ScanControl *scanControl() const { return scan_; }
    Diagnostics *diagnostics() const { return diagnostics_; }
    PortKeeper *portKeeper(int link) const { return links_[link].keeper; }
    trend::Trends *trends() const { return trends_; }
    QString csvPath() const { return csvPath_; }
    scan::SnapshotWriter *snapshotWriter() const { return snapshotWriter_; }
    traffic::Traffic *traffic() const { return traffic_; }
    // Opens or raises the traffic window; from a slot's header, showing that slot's slave.
    traffic::TrafficWindow *showTraffic(std::optional<std::pair<int, int>> slot = std::nullopt);
    // Opens or raises the commissioning window (bus scan, one-off reads).
    commission::CommissionWindow *showCommission();

    // Handlers, named after their control and event.
    void cmd_coneck_Click();
    void cmd_coneck1_Click();
    void cmdTest_Click();
    void cmdTest1_Click();
    void Command5_Click();
    void Autoscan();

    // The window's checksum routine: the CRC-16/MODBUS of the first n bytes into crcHi (sent
    // first) and crcLo. Fails when n runs past the data; the pair then holds the CRC of the
    // bytes there are.
    bool CRC16(QByteArrayView data, int n);
    std::uint8_t crcHi = 0xFF;
    std::uint8_t crcLo = 0xFF;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void createLinks(Ports ports, const Form1Options &options);
    void wire();
    void wireWindows();
    void showReading(int link, int slot, const modbus::SlotResult &result);
    void load();
    void takeSnapshot();

    const StationSettings settings_;
    clk::Clock &clock_;
    const QString csvPath_;
    scan::SnapshotWriter *snapshotWriter_ = nullptr;
    scan::ScanControl *scan_ = nullptr;
    Diagnostics *diagnostics_ = nullptr;
    trend::Trends *trends_ = nullptr;
    traffic::Traffic *traffic_ = nullptr;
    StationWindows *windows_ = nullptr;
    UploadPanel *upload_ = nullptr;
};
