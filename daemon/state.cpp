#include "constants.h"
#include "daemon.h"
#include "settingscontroller.h"

#include <QCoreApplication>

namespace {
struct TaskRendering
{
    const char *word;
    int number;
};

// Indexed by CurrentTask; DownloadCompleted is rendered from the arming flags.
constexpr TaskRendering TASK_RENDERINGS[] = {
        {"unknown", toInt(StateNumber::Undefined)},
        {"wait-for-connection", toInt(StateNumber::WaitingForConnection)},
        {"no-updates", toInt(StateNumber::NoUpdates)},
        {"wait-for-download", toInt(StateNumber::WaitingForDownload)},
        {"downloading", toInt(StateNumber::Downloading)},
        {"ready", toInt(StateNumber::Ready)},
        {"error", toInt(StateNumber::Undefined)},
        {"stopped", toInt(StateNumber::Stopped)},
        {"stopped-for-major", toInt(StateNumber::StoppedForMajor)},
};
constexpr TaskRendering OUT_OF_RANGE = {"error", toInt(StateNumber::Undefined)};

TaskRendering renderingOf(int task)
{
    if (task < 0 || task >= int(sizeof(TASK_RENDERINGS) / sizeof(TASK_RENDERINGS[0])))
        return OUT_OF_RANGE;
    return TASK_RENDERINGS[task];
}

} // namespace

// Rendering of DownloadCompleted: 4 ready, 6 forced, 5 activated. The word
// and the number share it, log lines and test order included.
int Daemon::completedStateNumber(const QString &where) const
{
    if (!m_isUpgradeEnabled) {
        m_logger.debug(where, QStringLiteral("m_isUpgradeEnabled = false"));
        return toInt(StateNumber::Ready);
    }
    m_logger.debug(where, QStringLiteral("m_isUpgradeEnabled = true"));
    if (isTEndSetAndPassed() || m_forcedMode) {
        m_logger.debug(where, QStringLiteral("(isTEndSetAndPassed() || m_forcedMode) = true"));
        return toInt(StateNumber::Forced);
    }
    m_logger.debug(where, QStringLiteral("(isTEndSetAndPassed() || m_forcedMode) = false"));
    return toInt(StateNumber::Activated);
}

const QString Daemon::getStateAsString() const
{
    const QString where = QStringLiteral("const QString Daemon::getStateAsString() const");
    m_logger.debug(where, QStringLiteral("m_task"), m_task);
    if (m_task == toInt(CurrentTask::DownloadCompleted)) {
        const int number = completedStateNumber(where);
        return number == toInt(StateNumber::Ready)    ? QStringLiteral("ready")
               : number == toInt(StateNumber::Forced) ? QStringLiteral("forced")
                                                      : QStringLiteral("activated");
    }
    return QString::fromLatin1(renderingOf(m_task).word);
}

const QString Daemon::getCurrentStateAsString() const
{
    const QString word = getStateAsString();
    m_logger.debug(QStringLiteral("const QString Daemon::getCurrentStateAsString() const"),
                   QStringLiteral("current state = ") + word);
    return word;
}

int Daemon::getCurrentStateAsInt() const
{
    const QString where = QStringLiteral("int Daemon::getCurrentStateAsInt() const");
    m_logger.debug(where, QStringLiteral("m_task"), m_task);
    if (m_task == toInt(CurrentTask::DownloadCompleted)) {
        return completedStateNumber(where);
    }
    return renderingOf(m_task).number;
}

int Daemon::getCurrentErrorAsInt() const
{
    m_logger.debug(QStringLiteral("int Daemon::getCurrentErrorAsInt() const"),
                   QStringLiteral("m_currentError"), m_currentError);
    return m_currentError;
}

const QString Daemon::getUpdateDateAsString() const
{
    const QString where = QStringLiteral("const QString Daemon::getUpdateDateAsString() const");
    const QDateTime timeStamp = m_settingsController->params().upgrade_time_stamp.second;
    if (timeStamp.isValid()) {
        m_logger.debug(where, QStringLiteral("timeStamp is valid"));
        return timeStamp.toString(DATE_TIME_FORMAT);
    }
    m_logger.debug(where, QStringLiteral("Upgrade date not set or not valid"));
    return QCoreApplication::translate("Daemon", "Upgrade date not set or not valid");
}

const QString Daemon::getMinorUpdateVersion() const
{
    const QString where = QStringLiteral("const QString Daemon::getMinorUpdateVersion() const");
    if (!m_availUpdateVersion.isEmpty()) {
        m_logger.debug(where, QStringLiteral("available update version = ") + m_availUpdateVersion);
        return m_availUpdateVersion;
    }
    m_logger.debug(where, QStringLiteral("Version unknown"));
    return QCoreApplication::translate("Daemon", "Version unknown");
}
