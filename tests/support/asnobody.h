#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

// What differs for an operator's station, run as root, is checked again as "nobody": the whole
// test program once more under that user (the system then answers "not permitted" where root is
// let through). Call it as the last statement of a test function.
inline void passAgainAsNobody() {
    if (::geteuid() != 0)
        QSKIP("runs unprivileged already");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("no setpriv here to run the test as nobody: unprivileged cases not checked");
    QProcess again;
    again.setProcessChannelMode(QProcess::ForwardedChannels);
    again.start(setpriv, {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                          QCoreApplication::applicationFilePath()});
    QVERIFY(again.waitForFinished(100000));
    QCOMPARE(again.exitStatus(), QProcess::NormalExit);
    QCOMPARE(again.exitCode(), 0);
}
