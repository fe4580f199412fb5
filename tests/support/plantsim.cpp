#include "plantsim.h"

#include <QDeadlineTimer>
#include <cstring>

PlantSim::PlantSim(QStringList extraArgs)
    : args_(std::move(extraArgs)) {}

PlantSim::~PlantSim() {
    stop();
}

bool PlantSim::start() {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(PLANT_SIM_PATH), QStringList{QStringLiteral("--dir"), dir_.path(),
                                                               QStringLiteral("--stdin-control")} +
                                                       args_);
    return process_.waitForStarted(5000) && waitForLine(QStringLiteral("ready"), nullptr, 10000);
}

void PlantSim::pointStation() const {
    qputenv("RTU_STATION_PORTS", portPattern().toLocal8Bit());
}

bool PlantSim::command(const QString &line) {
    post(line);
    return waitForOk();
}

void PlantSim::post(const QString &line) {
    process_.write(line.toLatin1() + '\n');
}

bool PlantSim::waitForOk(int timeoutMs) {
    return waitForLine(QStringLiteral("ok"), nullptr, timeoutMs);
}

std::optional<PlantCounts> PlantSim::counts() {
    post(QStringLiteral("counts"));
    QString line;
    if (!waitForLine(QStringLiteral("counts "), &line, 5000) || !waitForOk())
        return std::nullopt;
    return PlantCounts::parse(line);
}

namespace {

// The counts line's fields every plant-sim prints, by name.
constexpr std::pair<const char *, quint64 PlantCounts::*> countFields[] = {
    {"requests", &PlantCounts::requests}, {"replies", &PlantCounts::replies},
    {"silent", &PlantCounts::silent},     {"late", &PlantCounts::late},
    {"corrupt", &PlantCounts::corrupt},   {"exception", &PlantCounts::exception},
    {"garbage", &PlantCounts::garbage},   {"wrong_parity", &PlantCounts::wrongParity},
    {"wrong_id", &PlantCounts::wrongId},  {"ignored", &PlantCounts::ignored},
    {"bad", &PlantCounts::bad},
};

} // namespace

quint64 PlantCounts::field(const QString &name) const {
    for (const auto &[n, member] : countFields) {
        if (name == QLatin1String(n))
            return this->*member;
    }
    return 0;
}

std::optional<PlantCounts> PlantCounts::parse(const QString &line) {
    const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
    if (words.value(0) != QStringLiteral("counts"))
        return std::nullopt;
    PlantCounts c;
    for (const auto &[name, member] : countFields) {
        quint64 *value = &(c.*member);
        bool found = false;
        for (const QString &word : words) {
            const qsizetype eq = word.indexOf(u'=');
            if (eq > 0 && word.first(eq) == QLatin1String(name)) {
                *value = word.sliced(eq + 1).toULongLong(&found);
                break;
            }
        }
        if (!found)
            return std::nullopt;
    }
    const std::pair<const char *, qint64 *> wireFields[] = {
        {"merged", &c.merged}, {"collisions", &c.collisions}, {"silence_min_us", &c.silenceMinUs}};
    for (const auto &[name, value] : wireFields) {
        for (const QString &word : words) {
            if (word.startsWith(QLatin1String(name) + u'='))
                *value = word.sliced(qsizetype(std::strlen(name)) + 1).toLongLong();
        }
    }
    return c;
}

QStringList PlantSim::stats() {
    post(QStringLiteral("stats"));
    QStringList lines;
    for (int link = 0; link < 2; ++link) {
        QString line;
        if (!waitForLine(QStringLiteral("stats "), &line, 5000))
            return {};
        lines << line;
    }
    return waitForOk() ? lines : QStringList{};
}

QString PlantSim::stop() {
    if (process_.state() == QProcess::NotRunning)
        return {};
    process_.terminate();
    QString counts;
    waitForLine(QStringLiteral("counts"), &counts, 5000);
    if (!process_.waitForFinished(5000))
        process_.kill();
    process_.waitForFinished(2000);
    return counts;
}

// The test's own helper may block: it runs the simulator, not the station.
bool PlantSim::waitForLine(const QString &prefix, QString *line, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        pending_ += process_.readAllStandardOutput();
        qsizetype end;
        while ((end = pending_.indexOf('\n')) >= 0) {
            const QString text = QString::fromLatin1(pending_.left(end));
            pending_.remove(0, end + 1);
            if (text.startsWith(prefix)) {
                if (line)
                    *line = text;
                return true;
            }
        }
        if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
            return false;
        process_.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
}
