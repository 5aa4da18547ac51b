// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "connectionwait.h"

#include <QSignalSpy>
#include <QtTest>

// The connection wait through its own interface: what counts as an answer
// of the probe (a stand-in ping program that records its arguments), and the
// retry timer's life.

class TestConnectionWait : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString standIn(const QString &body)
    {
        const QString path = m_dir.filePath(QStringLiteral("ping"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        file.write(QStringLiteral("#!/bin/sh\necho \"$@\" >\"%1/args\"\n%2\n")
                           .arg(m_dir.path(), body)
                           .toUtf8());
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                            | QFileDevice::ExeOwner);
        return path;
    }

private Q_SLOTS:
    void probe_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("answered");

        QTest::newRow("host answers") << "exit 0" << true;
        QTest::newRow("no answer") << "exit 1" << false;
        QTest::newRow("unknown host") << "exit 2" << false;
        QTest::newRow("killed") << "kill -KILL $$" << false;
    }

    void probe()
    {
        QFETCH(QString, body);
        QFETCH(bool, answered);
        const QString program = standIn(body);
        QVERIFY(!program.isEmpty());

        ConnectionWait wait(program);
        QCOMPARE(wait.probe(QStringLiteral("192.0.2.7")), answered);
        QFile args(m_dir.filePath(QStringLiteral("args")));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(args.readAll()).trimmed(),
                 QStringLiteral("192.0.2.7 -c3 -i0.2 -W2"));
    }

    void missingProgramIsNoAnswer()
    {
        ConnectionWait wait(m_dir.filePath(QStringLiteral("no-such-ping")));
        QVERIFY(!wait.probe(QStringLiteral("192.0.2.7")));
    }

    void retryTimerLife()
    {
        ConnectionWait wait(standIn(QStringLiteral("exit 0")));
        QVERIFY(!wait.hasRetryTimer());
        QVERIFY(!wait.isWaiting());
        wait.end();

        wait.begin();
        QVERIFY(wait.isWaiting());
        QTimer *timer = wait.retryTimer();
        QCOMPARE(timer->interval(), ConnectionWait::RETRY_MSEC);
        // A second failed probe inside the wait neither restarts nor doubles it.
        timer->setInterval(20);
        wait.begin();
        QCOMPARE(wait.retryTimer(), timer);
        QCOMPARE(timer->interval(), 20);

        QSignalSpy due(&wait, &ConnectionWait::retryDue);
        QTRY_VERIFY_WITH_TIMEOUT(due.count() >= 2, 5000);
        wait.end();
        QVERIFY(!wait.isWaiting());
        QVERIFY(wait.hasRetryTimer());
        // Begun anew, it waits the full interval again.
        wait.begin();
        QCOMPARE(timer->interval(), ConnectionWait::RETRY_MSEC);
    }
};

QTEST_GUILESS_MAIN(TestConnectionWait)
#include "tst_connectionwait.moc"
