#pragma once

#include <QWidget>
#include <optional>

class QComboBox;
class QDateTime;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace traffic {

class Traffic;
class TrafficModel;

// The live table of a station's traffic, a top-level window of its own. It follows the newest
// row until the operator scrolls up, and again once scrolled back to the bottom. The log records
// only while this window is shown (or a capture file is set).
class TrafficWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrafficWindow(Traffic &traffic, QWidget *parent = nullptr);

    TrafficModel *model() const { return model_; }
    QTableView *table() const { return table_; }
    // Shows one link and slave, or everything.
    void showOnly(std::optional<int> link, std::optional<int> slave);
    void copySelection();
    // Writes a header line and the shown rows, in the capture file's format; false with the
    // reason in the status.
    bool saveTo(const QString &path);
    // The name Save… offers: traffic-2026-12-09-134501.tsv.
    static QString saveName(const QDateTime &at);
    QString statusText() const;

signals:
    // The operator asked for the commissioning window.
    void commissionRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void applyFilter();
    void chooseSaveFile();
    void showStatus();
    // Widens the columns whose text in rows first..last does not fit; never narrows them.
    void fitColumns(int first, int last);

    Traffic &traffic_;
    TrafficModel *model_;
    QTableView *table_;
    QPushButton *pause_;
    QComboBox *link_;
    QLineEdit *slave_;
    QLabel *status_;
    QString saveError_;
    bool following_ = true;
    bool trimming_ = false; // the model is taking rows away at the top
    bool watching_ = false;
};

} // namespace traffic
