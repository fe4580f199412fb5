#pragma once

#include "commissioning.h"

#include <QObject>

namespace commission {

// A slave that answered a scan: a valid reply or an exception both prove it is there.
struct Found {
    int slave = 0;
    modbus::Answer answer;
};

// Asks each address of a plan in turn on one link, one question at a time, through the link's
// poll, so that every line rule of the poll holds. The link's own slots pause meanwhile (the
// cycle goes on, and the other link with it) and resume when the scan ends, stopped or not.
class BusScan : public QObject {
    Q_OBJECT
public:
    explicit BusScan(modbus::LinkPoll &poll, QObject *parent = nullptr);
    ~BusScan() override;

    bool start(const ScanPlan &plan);
    // Asks nothing more; the question out is waited for (it ends within its time-out).
    void stop();
    bool isRunning() const { return running_; }
    int asked() const { return next_; }
    int total() const { return int(plan_.addresses.size()); }
    const std::vector<Found> &found() const { return found_; }

signals:
    void slaveFound(const commission::Found &found);
    void progress(int asked, int total);
    // The scan ended: every address asked, stopped, or the port closed under it.
    void finished(bool complete);

private:
    void askNext();
    void onAnswer(const modbus::Answer &answer);
    void finish(bool complete);

    modbus::LinkPoll &poll_;
    ScanPlan plan_;
    std::vector<Found> found_;
    int next_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    bool outstanding_ = false; // a question of ours is out
};

} // namespace commission

Q_DECLARE_METATYPE(commission::Found)
