#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP, delivered as a signal of the event loop: the handler only writes
// the signal's number into a socket pair, and a notifier on the other end reads it on the GUI
// thread. A session or service manager stops the station this way, and the station then shuts
// down as if the operator had closed the window.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

    // Holds the signals back from the first line of main on: one that comes before the toolkit
    // and the window are up waits, and is taken once a QuitSignals exists.
    static void holdBack();

signals:
    void received(int signal);

private:
    void readSignal();

    int fds_[2] = {-1, -1};
    QSocketNotifier *notifier_ = nullptr;
};
