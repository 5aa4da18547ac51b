// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "noticedesk.h"
#include "toolenvironment.h"
#include "waituntil.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// kirta-update-notifier runs as a child between two private buses: on the
// system bus a stand-in of the daemon's object in this process, on the
// session bus python3-dbusmock's notification daemon, whose call log is what
// the desktop would have shown.

namespace {
const int WAIT_MS = 20000;
const QString ARMED_SUMMARY = QStringLiteral("Updates will be installed at the next restart");
} // namespace

class TestNotifier : public QObject
{
    Q_OBJECT

    NoticeDesk desk;
    StatusStandIn *daemon = &desk.daemon();
    QProcess notifier;

    QStringList notices() const { return desk.notices(); }
    bool noticesBecome(const QStringList &expected) const { return desk.noticesBecome(expected); }

private Q_SLOTS:
    void initTestCase()
    {
        daemon->set({{"State", 4},
                     {"StateName", "ready"},
                     {"TargetRelease", "12.4"},
                     {"LastResult", "unsuccessful"}});
        QVERIFY2(desk.start(), qPrintable(desk.errorString()));
    }

    void cleanupTestCase()
    {
        notifier.kill();
        notifier.waitForFinished();
    }

    // One session: what is told at login, on each event, and what is not.
    void session()
    {
        notifier.setProcessEnvironment(
                busClientEnvironment(withLocale(QProcessEnvironment::systemEnvironment())));
        notifier.setProcessChannelMode(QProcess::ForwardedChannels);
        notifier.start(qEnvironmentVariable("KIRTA_BIN_DIR")
                               + QStringLiteral("/kirta-update-notifier"),
                       QStringList());

        // A failed upgrade found at login is told once, with an action that
        // clears it.
        QStringList expected {NoticeDesk::notify(
                "The update could not be installed",
                "Installing the updates at the last restart failed. The administrator can find "
                "why in the system journal.",
                {"clear", "Clear"})};
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));

        daemon->change({{"State", 5}, {"StateName", "activated"}, {"Armed", true}});
        expected << NoticeDesk::notify(
                ARMED_SUMMARY, "Release 12.4 is downloaded and is installed when the computer "
                               "restarts.");
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));

        // Nothing new: a signal repeating a value, another property, and a
        // daemon that restarts and finds its upgrade armed again.
        daemon->change({{"Armed", true}});
        daemon->change({{"LastCheck", QDateTime::currentSecsSinceEpoch()}});
        daemon->withdraw();
        daemon->set({{"State", -1}, {"StateName", "unknown"}, {"Armed", false}});
        const int reads = daemon->reads;
        QVERIFY(desk.republish());
        KIRTA_WAIT_VERIFY(daemon->reads > reads, WAIT_MS);
        daemon->change({{"State", 3}, {"StateName", "downloading"}});
        daemon->change({{"State", 5}, {"StateName", "activated"}, {"Armed", true}});

        // Disarmed: the notice goes away.
        daemon->change({{"State", 4}, {"StateName", "ready"}, {"Armed", false}});
        expected << "CloseNotification 2";
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));

        // The deadline arms it.
        daemon->change({{"Deadline", QDateTime::currentSecsSinceEpoch() - 60}});
        daemon->change({{"State", 6}, {"StateName", "forced"}, {"Armed", true}});
        expected << NoticeDesk::notify(ARMED_SUMMARY,
                                       "Release 12.4 was armed because its deadline has passed. "
                                       "Save your work and restart soon.");
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));

        // The user clears the failed result from its notice.
        QVERIFY(desk.invokeAction(1, QStringLiteral("clear")));
        KIRTA_WAIT_VERIFY(!daemon->calls.isEmpty(), WAIT_MS);
        QCOMPARE(daemon->calls, QStringList {"removeUpgradeResultStamp 0"});
        daemon->change({{"LastResult", "none"}});
        expected << "CloseNotification 1";
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));

        // A later successful upgrade is news again.
        daemon->change({{"LastResult", "successful"}});
        expected << NoticeDesk::notify("Updates installed",
                                       "The updates were installed at the last restart.",
                                       {"clear", "Clear"});
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));

        // The install boot waited for power: asked to connect it, until the
        // reason goes.
        daemon->change({{"PostponedForPower", "battery BAT0 at 12 %"}});
        expected << NoticeDesk::notify("Connect the power to install updates",
                                       "Release 12.4 was not installed at the last restart "
                                       "because the battery was low. Connect the power before "
                                       "you restart the computer.");
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));
        daemon->change({{"PostponedForPower", ""}});
        expected << "CloseNotification 5";
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));

        // Health: checking and healthy are no news, unhealthy is.
        daemon->change({{"Health", "checking"}});
        daemon->change({{"Health", "healthy"}});
        daemon->change({{"Health", "checking"}});
        daemon->change({{"Health", "unhealthy"},
                        {"HealthReasons", QStringList {"unit web.service failed"}}});
        expected << NoticeDesk::notify("The system has problems after the update",
                                       "After the updates installed at the last restart: unit "
                                       "web.service failed. Tell the administrator.");
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));

        QCOMPARE(notifier.state(), QProcess::Running);
    }

    // A restart announced to the people logged in: shown with the time left
    // and, before the deadline, a way to postpone it; gone once called off.
    void restartAnnounced()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const qint64 planned = now + 15 * 60 + 30;
        const QString at = QDateTime::fromSecsSinceEpoch(planned).toString(QStringLiteral("hh:mm"));
        QStringList expected = notices();
        daemon->change({{"State", 5},
                        {"StateName", "activated"},
                        {"Forced", false},
                        {"Deadline", now + 86400}});
        daemon->change({{"RestartPlanned", planned},
                        {"RestartBlocker", "users logged in, announced for " + at}});
        expected << NoticeDesk::notify("The computer restarts at " + at + " to install updates",
                                       "Save your work. 16 minutes left.",
                                       {"restart-now", "Restart now", "postpone", "Postpone"});
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));

        // The stand-in numbers new notices from 1 on: this one is the last.
        const uint restartNotice = uint(expected.filter(QRegularExpression("^Notify ")).size());
        daemon->calls.clear();
        QVERIFY(desk.invokeAction(restartNotice, QStringLiteral("postpone")));
        KIRTA_WAIT_VERIFY(!daemon->calls.isEmpty(), WAIT_MS);
        QCOMPARE(daemon->calls, QStringList {"postponeRestart"});

        daemon->change({{"RestartPlanned", now + 86400},
                        {"RestartBlocker", "outside the maintenance window, next Wed 02:00"}});
        expected << QStringLiteral("CloseNotification %1").arg(restartNotice);
        QVERIFY2(noticesBecome(expected), qPrintable(notices().join('\n')));
        QCOMPARE(notifier.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestNotifier)
#include "tst_notifier.moc"
