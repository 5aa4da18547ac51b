// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "updatectl.h"

#include "statustext.h"

#include <QDBusReply>
#include <QDateTime>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace {
const int DEFAULT_ARM_TIMEOUT_S = 300;
// A day; the wait is a timer of milliseconds.
const int MAX_ARM_TIMEOUT_S = 86400;
// Safety net while waiting for the rehearsal: the status is read again even
// when no signal comes.
const int ARM_REREAD_MS = 2000;

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

QString timeOfDay()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss"));
}
} // namespace

UpdateCtl::UpdateCtl(QTextStream &out, QTextStream &err, QObject *parent)
    : QObject(parent)
    , m_out(out)
    , m_err(err)
    , m_daemon(QDBusConnection::systemBus())
{ }

QString UpdateCtl::usage()
{
    return tr("Usage: kirta-update-ctl COMMAND [OPTION]\n"
              "\n"
              "Shows and steers kirta-update-daemon, which keeps the system up to date with\n"
              "minor updates, over the system bus.\n"
              "\n"
              "Commands:\n"
              "  status [--json]     the daemon's state, release, deadline, whether the update\n"
              "                      is armed, and what happens next; --json for scripts\n"
              "  watch [--json]      print each change as the daemon announces it, until\n"
              "                      interrupted; --json prints one object per change\n"
              "  arm [--timeout S]   arm the downloaded update for the next restart; waits up\n"
              "                      to S seconds (default 300) for the free-space check and\n"
              "                      the rehearsal of the upgrade\n"
              "  disarm              do not install the update at the next restart\n"
              "  clear-result        forget the result of the last offline upgrade\n"
              "  postpone-restart    move the automatic restart to the next maintenance\n"
              "                      window (before the deadline; afterwards root only)\n"
              "  cancel-restart      root: no automatic restart until the update is armed\n"
              "                      again; an announced restart is called off\n"
              "  release-lock        root: give the fleet's reboot lock slot back, kept by a\n"
              "                      machine that came back unhealthy or whose upgrade\n"
              "                      failed, once a person has looked\n"
              "  help                this text\n"
              "\n"
              "status also tells the health check after the last upgrade boot (healthy, or\n"
              "unhealthy with the failed units and checks; T_health_settle, Health_rollback),\n"
              "why no download starts (a metered connection; Download_on_metered), and when\n"
              "the last restart did not install for lack of power (Battery_min_percent).\n"
              "Administrator's health checks: executables in /etc/kirta-update-service/health.d.\n"
              "\n"
              "Exit status: 0 done, 1 refused or failed (the daemon's answer is explained),\n"
              "2 usage error, 3 the daemon is not running.\n");
}

int UpdateCtl::usageError(const QString &message)
{
    m_err << "kirta-update-ctl: " << message << "\n\n" << usage();
    m_err.flush();
    return Usage;
}

int UpdateCtl::run(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return usageError(tr("no command given"));
    const QString command = arguments.first();
    const QStringList options = arguments.mid(1);

    if (command == QLatin1String("help") || command == QLatin1String("--help")
        || command == QLatin1String("-h")) {
        if (!options.isEmpty())
            return usageError(tr("help takes no options"));
        m_out << usage();
        m_out.flush();
        return Done;
    }

    bool json = false;
    int timeoutSeconds = DEFAULT_ARM_TIMEOUT_S;
    if (command == QLatin1String("status") || command == QLatin1String("watch")) {
        if (options.size() > 1
            || (options.size() == 1 && options.first() != QLatin1String("--json")))
            return usageError(tr("%1 takes only --json").arg(command));
        json = !options.isEmpty();
    } else if (command == QLatin1String("arm")) {
        bool ok = true;
        if (options.size() == 2 && options.first() == QLatin1String("--timeout"))
            timeoutSeconds = options.at(1).toInt(&ok);
        else if (!options.isEmpty())
            ok = false;
        if (!ok || timeoutSeconds <= 0 || timeoutSeconds > MAX_ARM_TIMEOUT_S)
            return usageError(
                    tr("arm takes only --timeout SECONDS, 1 to %1").arg(MAX_ARM_TIMEOUT_S));
    } else if (command == QLatin1String("disarm") || command == QLatin1String("clear-result")
               || command == QLatin1String("postpone-restart")
               || command == QLatin1String("cancel-restart")
               || command == QLatin1String("release-lock")) {
        if (!options.isEmpty())
            return usageError(tr("%1 takes no options").arg(command));
    } else {
        return usageError(tr("unknown command: %1").arg(command));
    }

    if (!m_daemon.isOnBus()) {
        m_err << "kirta-update-ctl: "
              << tr("the update daemon is not running (no %1 on the system bus)")
                         .arg(QLatin1String(DaemonClient::SERVICE))
              << "\n";
        m_err.flush();
        return NotRunning;
    }

    if (command == QLatin1String("status"))
        return status(json);
    if (command == QLatin1String("watch"))
        return watch(json);
    if (command == QLatin1String("arm"))
        return arm(timeoutSeconds);
    if (command == QLatin1String("disarm"))
        return disarm();
    if (command == QLatin1String("postpone-restart"))
        return postponeRestart();
    if (command == QLatin1String("cancel-restart"))
        return cancelRestart();
    if (command == QLatin1String("release-lock"))
        return releaseLock();
    return clearResult();
}

int UpdateCtl::callFailed(const QString &what, const QDBusError &error)
{
    m_err << "kirta-update-ctl: " << tr("%1 failed: %2").arg(what, error.message()) << "\n";
    if (error.type() == QDBusError::AccessDenied)
        m_err << "kirta-update-ctl: "
              << tr("the system bus refused the call; ask the administrator, or run the command "
                    "as root")
              << "\n";
    m_err.flush();
    if (error.type() == QDBusError::ServiceUnknown || !m_daemon.isOnBus())
        return NotRunning;
    return Failed;
}

bool UpdateCtl::readStatus(PublishedStatus *status)
{
    QVariantMap properties;
    QString error;
    if (!m_daemon.readStatus(&properties, &error)) {
        m_err << "kirta-update-ctl: " << tr("cannot read the daemon's status: %1").arg(error)
              << "\n";
        m_err.flush();
        return false;
    }
    status->apply(properties);
    return true;
}

int UpdateCtl::status(bool json)
{
    PublishedStatus status;
    if (!readStatus(&status))
        return m_daemon.isOnBus() ? Failed : NotRunning;
    if (json) {
        m_out << QJsonDocument(status.toJson()).toJson(QJsonDocument::Indented);
    } else {
        for (const QString &line : StatusText::statusLines(status, now()))
            m_out << line << '\n';
    }
    m_out.flush();
    return Done;
}

void UpdateCtl::printChanges(const QStringList &changed, const PublishedStatus &status, bool json)
{
    if (changed.isEmpty())
        return;
    if (json) {
        QJsonObject object;
        object.insert(QStringLiteral("time"), now());
        for (const QString &property : changed)
            object.insert(PublishedStatus::jsonKey(property),
                          PublishedStatus::jsonValue(status.value(property)));
        m_out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    } else {
        for (const QString &property : changed) {
            // The number only repeats the state word.
            if (property == QLatin1String("State") && changed.contains(QStringLiteral("StateName")))
                continue;
            // Times are shown to the minute: a deadline moved by seconds
            // (the daemon keeps it to the minute once it has stored it)
            // shows nothing new.
            const QString value = StatusText::propertyValue(property, status);
            const auto shown = m_shown.constFind(property);
            if (shown != m_shown.constEnd() && *shown == value)
                continue;
            m_shown.insert(property, value);
            m_out << timeOfDay() << ' ' << StatusText::propertyLabel(property) << ": " << value
                  << '\n';
        }
    }
    m_out.flush();
}

int UpdateCtl::watch(bool json)
{
    PublishedStatus status;
    QEventLoop loop;
    bool started = false;
    auto daemonLine = [&](const char *word, const QString &line) {
        if (json)
            m_out << QJsonDocument(QJsonObject {{QStringLiteral("time"), now()},
                                                {QStringLiteral("daemon"), QLatin1String(word)}})
                             .toJson(QJsonDocument::Compact)
                  << '\n';
        else
            m_out << timeOfDay() << ' ' << line << '\n';
        m_out.flush();
    };
    connect(&m_daemon, &DaemonClient::statusRead, &loop, [&](const QVariantMap &properties) {
        const QStringList changed = status.apply(properties);
        // Where we start from: every property once. A restarted daemon
        // starts afresh: what differs.
        printChanges(started ? changed : PublishedStatus::propertyNames(), status, json);
        started = true;
    });
    connect(&m_daemon, &DaemonClient::statusUnreadable, &loop, [&](const QString &error) {
        m_err << "kirta-update-ctl: " << tr("cannot read the daemon's status: %1").arg(error)
              << "\n";
        m_err.flush();
        if (!started)
            loop.exit(m_daemon.isOnBus() ? Failed : NotRunning);
    });
    connect(&m_daemon, &DaemonClient::propertiesChanged, &loop,
            [&](const QVariantMap &changed) { printChanges(status.apply(changed), status, json); });
    connect(&m_daemon, &DaemonClient::vanished, &loop,
            [&] { daemonLine("stopped", tr("The daemon left the bus")); });
    connect(&m_daemon, &DaemonClient::appeared, &loop, [&] {
        daemonLine("started", tr("The daemon is back on the bus"));
        m_daemon.requestStatus();
    });
    m_daemon.follow();
    m_daemon.requestStatus();
    return loop.exec();
}

int UpdateCtl::arm(int timeoutSeconds)
{
    PublishedStatus before;
    if (!readStatus(&before))
        return m_daemon.isOnBus() ? Failed : NotRunning;
    m_daemon.follow();

    const QDBusReply<int> reply = m_daemon.methods().enableUpgradeOnReboot();
    if (!reply.isValid())
        return callFailed(tr("arming"), reply.error());
    const int answer = reply.value();
    if (answer == -5) {
        m_out << tr("Checking free space and rehearsing the upgrade...") << "\n";
        m_out.flush();
        return waitUntilArmed(before, timeoutSeconds);
    }
    if (StatusText::armDone(answer)) {
        m_out << tr("Armed: the update is installed at the next restart (%1).")
                         .arg(StatusText::armWords(answer))
              << "\n";
        m_out.flush();
        return Done;
    }
    m_err << "kirta-update-ctl: "
          << tr("not armed (%1): %2.").arg(answer).arg(StatusText::armWords(answer)) << "\n";
    m_err.flush();
    return Failed;
}

int UpdateCtl::waitUntilArmed(const PublishedStatus &before, int timeoutSeconds)
{
    PublishedStatus status = before;
    QEventLoop loop;
    int result = Failed;
    QString why;
    bool decided = false;

    // The first outcome counts: events already queued behind it are still
    // delivered before the loop returns.
    auto finish = [&](int code, const QString &reason) {
        if (decided)
            return;
        decided = true;
        result = code;
        why = reason;
        loop.exit();
    };
    // An error is judged only once a signal carries it: an Error read before
    // the rehearsal has started may be left from an earlier attempt.
    auto judge = [&](const QStringList &changed) {
        if (status.armed || status.stateName == QLatin1String("activated")
            || status.stateName == QLatin1String("forced")) {
            finish(Done, QString());
        } else if (changed.contains(QStringLiteral("Error")) && status.error > 0) {
            finish(Failed, StatusText::errorWords(status.error));
        } else if (status.stateName != QLatin1String("ready")) {
            finish(Failed, tr("the daemon is now %1, error: %2")
                                   .arg(StatusText::stateWords(status.stateName),
                                        StatusText::errorWords(status.error)));
        }
    };
    auto apply = [&](const QVariantMap &properties) { judge(status.apply(properties)); };
    connect(&m_daemon, &DaemonClient::propertiesChanged, &loop, apply);
    connect(&m_daemon, &DaemonClient::statusRead, &loop, apply);
    connect(&m_daemon, &DaemonClient::vanished, &loop,
            [&] { finish(NotRunning, tr("the daemon left the bus")); });
    QTimer again;
    connect(&again, &QTimer::timeout, &m_daemon, &DaemonClient::requestStatus);
    again.start(ARM_REREAD_MS);
    QTimer::singleShot(timeoutSeconds * 1000, &loop, [&] {
        finish(Failed, tr("not armed within %1 s; the rehearsal may still be running (see "
                          "\"kirta-update-ctl status\")")
                               .arg(timeoutSeconds));
    });
    // Arming may have ended before the first signal could reach us.
    m_daemon.requestStatus();
    loop.exec();

    if (result == Done) {
        m_out << (status.targetRelease.isEmpty()
                          ? tr("Armed: the update is installed at the next restart.")
                          : tr("Armed: release %1 is installed at the next restart.")
                                    .arg(status.targetRelease))
              << "\n";
        m_out.flush();
    } else {
        m_err << "kirta-update-ctl: " << tr("not armed: %1.").arg(why) << "\n";
        m_err.flush();
    }
    return result;
}

int UpdateCtl::disarm()
{
    const QDBusReply<int> reply = m_daemon.methods().disableUpgradeOnReboot();
    if (!reply.isValid())
        return callFailed(tr("disarming"), reply.error());
    const int answer = reply.value();
    if (StatusText::disarmDone(answer)) {
        m_out << (answer == 11 ? tr("Nothing was armed.")
                               : tr("Disarmed: the update is not installed at the next restart."))
              << "\n";
        m_out.flush();
        return Done;
    }
    m_err << "kirta-update-ctl: "
          << tr("not disarmed (%1): %2.").arg(answer).arg(StatusText::disarmWords(answer)) << "\n";
    m_err.flush();
    return Failed;
}

int UpdateCtl::clearResult()
{
    // The result of a minor upgrade is one of two stamps: type 0 "failed",
    // type 1 "successful". Types 2 and 3 belong to the major-release tool.
    // When both are there the failure is the one shown, so it goes last:
    // otherwise the success would show in between, and the desktop would
    // announce an installed update.
    const struct
    {
        int type;
        const char *name;
    } stamps[] = {{1, "successful"}, {0, "unsuccessful"}};
    bool removed = false;
    for (const auto &stamp : stamps) {
        const QDBusReply<int> reply = m_daemon.methods().removeUpgradeResultStamp(stamp.type);
        if (!reply.isValid())
            return callFailed(tr("clearing the result"), reply.error());
        if (reply.value() == 0) {
            removed = true;
        } else if (reply.value() != 1) {
            m_err << "kirta-update-ctl: "
                  << tr("the \"%1\" result could not be removed (%2).")
                             .arg(QLatin1String(stamp.name))
                             .arg(reply.value())
                  << "\n";
            m_err.flush();
            return Failed;
        }
    }
    m_out << (removed ? tr("Cleared the result of the last offline upgrade.")
                      : tr("No result to clear."))
          << "\n";
    m_out.flush();
    return Done;
}

int UpdateCtl::postponeRestart()
{
    const QDBusReply<int> reply = m_daemon.methods().postponeRestart();
    if (!reply.isValid())
        return callFailed(tr("postponing the restart"), reply.error());
    switch (reply.value()) {
    case 0:
        m_out << tr("Postponed: the automatic restart waits for the next maintenance window.")
              << "\n";
        m_out.flush();
        return Done;
    case 1:
        m_out << tr("No automatic restart is planned.") << "\n";
        m_out.flush();
        return Done;
    case 2:
        m_err << "kirta-update-ctl: "
              << tr("not postponed: the deadline has passed; only root may postpone the "
                    "restart now.")
              << "\n";
        break;
    default:
        m_err << "kirta-update-ctl: "
              << tr("not postponed (%1): unexpected answer.").arg(reply.value()) << "\n";
        break;
    }
    m_err.flush();
    return Failed;
}

int UpdateCtl::cancelRestart()
{
    const QDBusReply<int> reply = m_daemon.methods().cancelRestart();
    if (!reply.isValid())
        return callFailed(tr("cancelling the restart"), reply.error());
    m_out << (reply.value() == 0
                      ? tr("Cancelled: no automatic restart until the update is armed again.")
                      : tr("No automatic restart is planned."))
          << "\n";
    m_out.flush();
    return Done;
}

int UpdateCtl::releaseLock()
{
    const QDBusReply<int> reply = m_daemon.methods().releaseRebootLock();
    if (!reply.isValid())
        return callFailed(tr("releasing the reboot lock"), reply.error());
    switch (reply.value()) {
    case 0:
        m_out << tr("Giving the reboot lock's slot back; status shows when it is done.") << "\n";
        break;
    case 1:
        m_out << tr("No reboot lock slot is held.") << "\n";
        break;
    case 2:
        m_err << "kirta-update-ctl: "
              << tr("a slot is held but no usable reboot lock is configured to give it back to.")
              << "\n";
        m_err.flush();
        return Failed;
    default:
        m_err << "kirta-update-ctl: "
              << tr("not released (%1): unexpected answer.").arg(reply.value()) << "\n";
        m_err.flush();
        return Failed;
    }
    m_out.flush();
    return Done;
}
