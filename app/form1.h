#pragma once

#include "poll.h"
#include "snapshotwriter.h"

#include <QByteArrayView>

#include <QString>
#include <QTimer> // Timer1 and Timer2 are used through the window
#include <QWidget>
#include <array>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class BrowserPane;
class Diagnostics;
class PortKeeper;
class FractionProgressBar;
class ReadingGrid;
class SerialTransport;

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
    QString csvPath; // empty: mwRARE.csv beside the program
    int replyTimeoutMs = modbus::LinkPoll::defaultTimeoutMs;
    scan::WriteFunction writeSnapshot = {}; // empty: the real file write
    int snapshotStuckMs = scan::SnapshotWriter::defaultStuckMs;
    int portRetryUnitMs = 1000;  // the step of the back-off on which closed ports are tried
    clk::Clock *clock = nullptr; // of the polls and the cycle; null: the system's
};

// The station's one window. It holds the controls under their own names and wires them to the
// links, the poll, the scan cycle and the upload.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // Null transports get the station's serial ports; given ones become the window's children.
    explicit Form1(std::array<SerialTransport *, 2> ports = {}, Form1Options options = {},
                   QWidget *parent = nullptr);
    ~Form1() override;

    // Panels.
    QGroupBox *Frame4, *Frame6, *Frame1, *Frame3, *Frame14, *Frame5, *Frame11, *Frame2;
    // Link 0.
    QPushButton *cmd_coneck, *cmd_auto, *cmdTest;
    QLabel *Label1, *Label2;
    QComboBox *ComA, *BoudRateA;
    std::array<QLineEdit *, 4> txtaID;
    std::array<QCheckBox *, 4> cheAID;
    // Link 1.
    QPushButton *cmd_coneck1, *cmd_auto1, *cmdTest1;
    QLabel *Label3, *Label4;
    QComboBox *ComA1, *BoudRateA1;
    std::array<QLineEdit *, 4> txtaID1;
    std::array<QCheckBox *, 4> cheAID1;
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
    SerialTransport *MSComm, *MSComm1;

    modbus::LinkPoll *poll(int link) const { return polls_[link]; }
    scan::ScanControl *scanControl() const { return scan_; }
    Diagnostics *diagnostics() const { return diagnostics_; }
    PortKeeper *portKeeper(int link) const { return keepers_[link]; }
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
    void createLinkControls(int link);
    modbus::LinkPoll *createPoll(int link, SerialTransport &port);
    void wire();
    void load();
    void takeSnapshot();
    void wireDiagnostics();
    void connectLink(int link);
    void showLinkState(int link);
    void offerStatsReset(const QPoint &pos);
    void wireTrends();
    void offerTrend(const QPoint &pos);
    void wireTraffic();

    std::array<modbus::LinkPoll *, 2> polls_{};
    scan::ScanControl *scan_ = nullptr;
    Diagnostics *diagnostics_ = nullptr;
    std::array<PortKeeper *, 2> keepers_{};
    trend::Trends *trends_ = nullptr;
    QString csvPath_;
    scan::SnapshotWriter *snapshotWriter_ = nullptr;
    int portRetryUnitMs_;
    // RTU_STATION_SERVER, read and checked once at start-up.
    QString server_;
    std::optional<QString> serverProblem_;
    traffic::Traffic *traffic_ = nullptr;
    traffic::TrafficWindow *trafficWindow_ = nullptr;          // made when first asked for
    commission::CommissionWindow *commissionWindow_ = nullptr; // made when first asked for
    clk::Clock &clock_;
};
