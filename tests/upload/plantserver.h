#pragma once

#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>

// The Python stand-in for the plant web server, run on a free loopback port.
class PlantServer : public QObject {
    Q_OBJECT

public:
    struct Request {
        QString path; // as the browser sent it
        QString line; // the dta value, percent-decoded by the server
    };

    explicit PlantServer(QObject *parent = nullptr);
    ~PlantServer() override;

    void start();
    // 0 until the server has told which port it bound.
    quint16 port() const { return m_port; }
    // Requests for the upload page only (no favicon and the like).
    QList<Request> uploads() const;
    QString failure() const { return m_failure; }

private:
    void readLines();

    QProcess m_process;
    quint16 m_port = 0;
    QList<Request> m_requests;
    QString m_failure;
};
