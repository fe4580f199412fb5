#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

// The simulator's counts line ("counts requests=12 replies=10 ... bad=0"), field by field.
struct PlantCounts {
    quint64 requests = 0;
    quint64 replies = 0;
    quint64 silent = 0;
    quint64 late = 0;
    quint64 corrupt = 0;
    quint64 exception = 0;
    quint64 garbage = 0;
    quint64 wrongParity = 0;
    quint64 wrongId = 0;
    quint64 ignored = 0;
    quint64 bad = 0;
    // Shared-wire mode (--bus) only; -1 when the line does not carry them. silenceMinUs is also
    // -1 while no request has followed another frame.
    qint64 merged = -1;
    qint64 collisions = -1;
    qint64 silenceMinUs = -1;

    // Nothing when the line is not a counts line or lacks a field.
    static std::optional<PlantCounts> parse(const QString &line);
    // A fault's count by its name in the line ("late", "wrong_parity"); 0 for another name.
    quint64 field(const QString &name) const;
};

// The plant simulator in a process of its own, its links in a temporary directory.
class PlantSim {
public:
    explicit PlantSim(QStringList extraArgs = {});
    ~PlantSim();

    // Starts it and waits, bounded, until both links exist.
    bool start();
    QString dir() const { return dir_.path(); }
    // The RTU_STATION_PORTS pattern that reaches its links.
    QString portPattern() const { return dir_.filePath(QStringLiteral("COM%1")); }
    // Points the station of this process at those links (RTU_STATION_PORTS).
    void pointStation() const;
    // A control command ("drop 0", "restore 0"); waits for its "ok".
    bool command(const QString &line);
    // Sends a control command without waiting; waitForOk() collects its answer later.
    void post(const QString &line);
    bool waitForOk(int timeoutMs = 5000);
    // The counts so far, while it keeps running.
    std::optional<PlantCounts> counts();
    // The shared wire's lines ("stats link=0 ..."), one per link, in --bus mode.
    QStringList stats();
    // Stops it and returns its closing counts line.
    QString stop();

private:
    bool waitForLine(const QString &prefix, QString *line, int timeoutMs);

    QTemporaryDir dir_;
    QStringList args_;
    QProcess process_;
    QByteArray pending_;
};
