#include "plantserver.h"

#include <QSignalSpy>

PlantServer::PlantServer(QObject *parent)
    : QObject(parent) {
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &PlantServer::readLines);
    connect(&m_process, &QProcess::errorOccurred, this,
            [this] { m_failure = m_process.errorString(); });
}

PlantServer::~PlantServer() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    // Closing its input tells the server to leave.
    QSignalSpy finished(&m_process, &QProcess::finished);
    m_process.closeWriteChannel();
    if (!finished.wait(5000))
        m_process.kill();
}

void PlantServer::start() {
    m_process.start(QStringLiteral(PLANT_SERVER_PYTHON),
                    {QStringLiteral(PLANT_SERVER_SCRIPT), QStringLiteral("--echo"),
                     QStringLiteral("--exit-on-eof")});
}

QList<PlantServer::Request> PlantServer::uploads() const {
    QList<Request> uploads;
    for (const Request &request : m_requests) {
        if (request.path.startsWith(QStringLiteral("/telvaro/")))
            uploads.append(request);
    }
    return uploads;
}

void PlantServer::readLines() {
    while (m_process.canReadLine()) {
        const QString line = QString::fromUtf8(m_process.readLine()).chopped(1);
        if (line.startsWith(QStringLiteral("listening "))) {
            m_port = line.mid(10).toUShort();
        } else if (line.startsWith(QStringLiteral("GET "))) {
            const QString request = line.mid(4);
            const qsizetype tab = request.indexOf(QLatin1Char('\t'));
            m_requests.append({request.left(tab), request.mid(tab + 1)});
        }
    }
}
