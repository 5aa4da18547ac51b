// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "privatebus.h"
#include "statusstandin.h"
#include "toolenvironment.h"
#include "waituntil.h"

#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// kirta-update-ctl and kirta-update-notifier in the user's language. The
// German locale is compiled into a directory of the test's own (LOCPATH), so
// the machine's locales stay as they are; the programs meet a stand-in of the
// daemon's object on a private system bus and python3-dbusmock's
// notification daemon on a private session bus.

namespace {
const int WAIT_MS = 20000;
const char *const NOTIFICATIONS = "org.freedesktop.Notifications";

QString utcText(qint64 seconds, const QString &format)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(format)
           + QStringLiteral(" UTC");
}

// A line of `status`: the label and its colon padded so that the values
// line up.
QString row(const QString &label, int width, const QString &value)
{
    return QStringLiteral("%1 %2").arg(label + QLatin1Char(':'), -width).arg(value);
}
} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

    PrivateBus systemBus;
    PrivateBus sessionBus {"DBUS_SESSION_BUS_ADDRESS"};
    QTemporaryDir dir;
    QString locales;
    QProcess notificationDaemon;
    StatusStandIn *daemon = nullptr;

    QProcessEnvironment environment(const QString &lang) const
    {
        QProcessEnvironment env = withLocale(QProcessEnvironment::systemEnvironment(), lang);
        env.insert(QStringLiteral("LOCPATH"), locales);
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        return env;
    }

    QStringList notifyCalls() const
    {
        QFile log(dir.filePath(QStringLiteral("notifications.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        QStringList calls;
        for (const QString &line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'))) {
            // Without the log's time stamp and the hints.
            static const QRegularExpression notify(
                    QStringLiteral("^[0-9.]+ (Notify .*?)( \\{.*\\} -?\\d+)?$"));
            const QRegularExpressionMatch match = notify.match(line);
            if (match.hasMatch())
                calls << match.captured(1);
        }
        return calls;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        locales = dir.filePath(QStringLiteral("locales"));
        QVERIFY(QDir().mkpath(locales));
        QProcess localedef;
        localedef.setProcessChannelMode(QProcess::MergedChannels);
        localedef.start(QStringLiteral("localedef"),
                        {"-i", "de_DE", "-f", "UTF-8", locales + QStringLiteral("/de_DE.UTF-8")});
        QVERIFY(localedef.waitForFinished(60000));
        // localedef exits 1 on warnings with a usable result; the locale's
        // files are what counts.
        QVERIFY2(
                QFile::exists(locales + QStringLiteral("/de_DE.UTF-8/LC_MESSAGES/SYS_LC_MESSAGES")),
                localedef.readAll().constData());

        QVERIFY2(systemBus.start(), qPrintable(systemBus.errorString()));
        QVERIFY2(sessionBus.start(), qPrintable(sessionBus.errorString()));
        daemon = new StatusStandIn(this);
        QVERIFY(daemon->publish(
                QDBusConnection::connectToBus(systemBus.address(), QStringLiteral("standin"))));
        notificationDaemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        notificationDaemon.start(QStringLiteral("/usr/bin/python3"),
                                 {"-m", "dbusmock", "--template", "notification_daemon", "-l",
                                  dir.filePath(QStringLiteral("notifications.log"))});
        const QDBusConnection session
                = QDBusConnection::connectToBus(sessionBus.address(), QStringLiteral("session"));
        KIRTA_WAIT_VERIFY(session.interface()->isServiceRegistered(NOTIFICATIONS).value(), WAIT_MS);
    }

    void cleanupTestCase()
    {
        notificationDaemon.terminate();
        notificationDaemon.waitForFinished();
    }

    void status_data()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const qint64 deadline = now + 2 * 86400 + 3600;
        const qint64 checked = now - 5 * 60 - 10;
        QTest::addColumn<QString>("lang");
        QTest::addColumn<qint64>("deadline");
        QTest::addColumn<qint64>("checked");
        QTest::addColumn<QStringList>("expected");
        // German: the words of a German desktop, the date as Germans write
        // it, and the values moved right past the longest label.
        QTest::newRow("German")
                << "de_DE.UTF-8" << deadline << checked
                << QStringList {
                           row("Zustand", 17, "ready (heruntergeladen, nicht vorgemerkt)"),
                           row("Fehler", 17, "keine"),
                           row("Version", 17, "12.4"),
                           row("Frist", 17, utcText(deadline, "dd.MM.yy HH:mm") + " (in 2 Tagen)"),
                           row("Vorgemerkt", 17, "nein"),
                           row("Erzwungen", 17, "nein"),
                           row("Pakete", 17, "2"),
                           row("Letzte Prüfung", 17,
                               utcText(checked, "dd.MM.yy HH:mm") + " (vor 5 Minuten)"),
                           row("Letztes Ergebnis", 17, "fehlgeschlagen"),
                           row("Als Nächstes", 17,
                               "Version 12.4 wird zur Frist vorgemerkt, oder "
                               "sofort mit „kirta-update-ctl arm“.")};
        // One of each: the singular comes from the English catalogue.
        QTest::newRow("English")
                << "en_US.UTF-8" << now + 86400 + 60 << now - 3600 - 10
                << QStringList {row("State", 12, "ready (downloaded, not armed)"),
                                row("Error", 12, "none"),
                                row("Release", 12, "12.4"),
                                row("Deadline", 12,
                                    utcText(now + 86400 + 60, "yyyy-MM-dd hh:mm") + " (in 1 day)"),
                                row("Armed", 12, "no"),
                                row("Forced", 12, "no"),
                                row("Packages", 12, "2"),
                                row("Last check", 12,
                                    utcText(now - 3600 - 10, "yyyy-MM-dd hh:mm") + " (1 hour ago)"),
                                row("Last result", 12, "unsuccessful"),
                                row("Next", 12,
                                    "Release 12.4 is armed at the deadline, or now "
                                    "with \"kirta-update-ctl arm\".")};
        // A language without a catalogue reads English, with its plurals;
        // the dates are still the locale's.
        QTest::newRow("no catalogue")
                << "fr_FR.UTF-8" << now + 3 * 86400 + 60 << now - 7200 - 10
                << QStringList {
                           row("State", 12, "ready (downloaded, not armed)"),
                           row("Error", 12, "none"),
                           row("Release", 12, "12.4"),
                           row("Deadline", 12,
                               utcText(now + 3 * 86400 + 60, "dd/MM/yyyy HH:mm") + " (in 3 days)"),
                           row("Armed", 12, "no"),
                           row("Forced", 12, "no"),
                           row("Packages", 12, "2"),
                           row("Last check", 12,
                               utcText(now - 7200 - 10, "dd/MM/yyyy HH:mm") + " (2 hours ago)"),
                           row("Last result", 12, "unsuccessful"),
                           row("Next", 12,
                               "Release 12.4 is armed at the deadline, or now with "
                               "\"kirta-update-ctl arm\".")};
    }

    void status()
    {
        QFETCH(QString, lang);
        QFETCH(qint64, deadline);
        QFETCH(qint64, checked);
        QFETCH(QStringList, expected);
        daemon->set({{"State", 4},
                     {"StateName", "ready"},
                     {"Error", -1},
                     {"TargetRelease", "12.4"},
                     {"Deadline", deadline},
                     {"Forced", false},
                     {"Armed", false},
                     {"Packages", QStringList {"hello-kirta", "kirta-version"}},
                     {"LastCheck", checked},
                     {"LastResult", "unsuccessful"}});
        QProcess ctl;
        startUpdateCtl(ctl, {"status"}, environment(lang));
        KIRTA_WAIT_VERIFY(ctl.state() == QProcess::NotRunning, WAIT_MS);
        QCOMPARE(QString::fromUtf8(ctl.readAllStandardError()), QString());
        QStringList lines = QString::fromUtf8(ctl.readAllStandardOutput()).split('\n');
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines, expected);
        QCOMPARE(ctl.exitCode(), 0);
    }

    void usageError_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<QString>("usageLine");
        QTest::newRow("German") << "de_DE.UTF-8"
                                << "kirta-update-ctl: unbekannter Befehl: reboot"
                                << "Aufruf: kirta-update-ctl BEFEHL [OPTION]";
        QTest::newRow("English") << "C.UTF-8"
                                 << "kirta-update-ctl: unknown command: reboot"
                                 << "Usage: kirta-update-ctl COMMAND [OPTION]";
    }

    void usageError()
    {
        QFETCH(QString, lang);
        QFETCH(QString, firstLine);
        QFETCH(QString, usageLine);
        QProcess ctl;
        startUpdateCtl(ctl, {"reboot"}, environment(lang));
        KIRTA_WAIT_VERIFY(ctl.state() == QProcess::NotRunning, WAIT_MS);
        const QStringList lines = QString::fromUtf8(ctl.readAllStandardError()).split('\n');
        QVERIFY(lines.size() > 3);
        QCOMPARE(lines.at(0), firstLine);
        QCOMPARE(lines.at(2), usageLine);
        QCOMPARE(ctl.exitCode(), 2);
    }

    // The notice of an armed upgrade, as the desktop gets it.
    void notice_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("expected");
        QTest::newRow("German")
                << "de_DE.UTF-8"
                << "Notify \"kirta-update-notifier\" 0 \"system-software-update\" "
                   "\"Aktualisierungen werden beim nächsten Neustart installiert\" \"Version 12.4 "
                   "ist heruntergeladen und wird beim Neustart des Rechners installiert.\" []";
        QTest::newRow("English")
                << "C.UTF-8"
                << "Notify \"kirta-update-notifier\" 0 \"system-software-update\" \"Updates "
                   "will be installed at the next restart\" \"Release 12.4 is downloaded and is "
                   "installed when the computer restarts.\" []";
    }

    void notice()
    {
        QFETCH(QString, lang);
        QFETCH(QString, expected);
        daemon->set({{"State", 5},
                     {"StateName", "activated"},
                     {"TargetRelease", "12.4"},
                     {"Deadline", QDateTime::currentSecsSinceEpoch() + 86400},
                     {"Forced", false},
                     {"Armed", true},
                     {"LastResult", "none"}});
        const int before = notifyCalls().size();
        QProcess notifier;
        notifier.setProcessEnvironment(busClientEnvironment(environment(lang)));
        notifier.setProcessChannelMode(QProcess::ForwardedChannels);
        notifier.start(qEnvironmentVariable("KIRTA_BIN_DIR")
                               + QStringLiteral("/kirta-update-notifier"),
                       QStringList());
        // An armed upgrade found at login is told at once.
        const bool shown = waitUntil([&] { return notifyCalls().size() > before; }, WAIT_MS);
        notifier.kill();
        notifier.waitForFinished();
        QVERIFY2(shown, "no notice");
        const QStringList told = notifyCalls().mid(before);
        QVERIFY2(told.size() == 1, qPrintable(told.join('\n')));
        QCOMPARE(told.first(), expected);
    }
};

QTEST_GUILESS_MAIN(TestLanguage)
#include "tst_language.moc"
