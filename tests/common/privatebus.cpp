// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "privatebus.h"

#include <QDeadlineTimer>
#include <QFile>

namespace {
const int STOP_TIMEOUT_MS = 5000;
} // namespace

QString PrivateBus::socketDirTemplate()
{
    return QStringLiteral("/tmp/kirta-bus.XXXXXX");
}

PrivateBus::PrivateBus(const char *addressVariable)
    : m_addressVariable(addressVariable)
{ }

PrivateBus::~PrivateBus()
{
    stop();
}

bool PrivateBus::writeConfig()
{
    QFile config(m_dir->filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = QStringLiteral("cannot write %1: %2")
                          .arg(config.fileName(), config.errorString());
        return false;
    }
    // A system-type bus so that names and policy behave as on the machine's
    // bus, but everybody may own, send and listen.
    const QString text
            = QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                             "Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig>\n"
                             "  <type>system</type>\n"
                             "  <listen>unix:dir=%1</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n"
                             "    <allow own=\"*\"/>\n"
                             "    <allow user=\"*\"/>\n"
                             "  </policy>\n"
                             "</busconfig>\n")
                      .arg(m_dir->path().toHtmlEscaped());
    return config.write(text.toUtf8()) > 0;
}

bool PrivateBus::start(int timeoutMs)
{
    if (isRunning())
        return true;
    m_error.clear();
    m_address.clear();
    m_dir = std::make_unique<QTemporaryDir>(socketDirTemplate());
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("cannot create a temporary directory: %1")
                          .arg(m_dir->errorString());
        return false;
    }
    if (!writeConfig())
        return false;

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(QStringLiteral("dbus-daemon"));
    m_process->setArguments(
            {QStringLiteral("--config-file=%1").arg(m_dir->filePath(QStringLiteral("bus.conf"))),
             QStringLiteral("--print-address=1"), QStringLiteral("--nofork")});
    m_process->start(QIODevice::ReadOnly);
    if (!m_process->waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("cannot start dbus-daemon: %1").arg(m_process->errorString());
        m_process.reset();
        return false;
    }

    const QDeadlineTimer deadline(timeoutMs);
    while (!m_process->canReadLine()) {
        if (m_process->state() != QProcess::Running || deadline.hasExpired()) {
            m_error = QStringLiteral("dbus-daemon printed no address: %1")
                              .arg(QString::fromLocal8Bit(m_process->readAllStandardError()));
            stop();
            return false;
        }
        m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    m_address = QString::fromLocal8Bit(m_process->readLine()).trimmed();

    if (!m_envSaved) {
        m_hadOldAddress = qEnvironmentVariableIsSet(m_addressVariable);
        m_oldAddress = qgetenv(m_addressVariable);
        m_envSaved = true;
    }
    qputenv(m_addressVariable, m_address.toLocal8Bit());
    return true;
}

void PrivateBus::stop()
{
    if (m_process) {
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(STOP_TIMEOUT_MS)) {
                m_process->kill();
                m_process->waitForFinished(STOP_TIMEOUT_MS);
            }
        }
        m_process.reset();
    }
    m_address.clear();
    restoreEnvironment();
    m_dir.reset();
}

void PrivateBus::restoreEnvironment()
{
    if (!m_envSaved)
        return;
    if (m_hadOldAddress)
        qputenv(m_addressVariable, m_oldAddress);
    else
        qunsetenv(m_addressVariable);
    m_envSaved = false;
}

bool PrivateBus::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running && !m_address.isEmpty();
}

QString PrivateBus::address() const
{
    return m_address;
}

QString PrivateBus::errorString() const
{
    return m_error;
}
