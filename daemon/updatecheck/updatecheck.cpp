// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "updatecheck.h"

#include "configkeys.h"
#include "constants.h"
#include "cycleclock.h"
#include "logger.h"

#include <QTimer>

UpdateCheck::UpdateCheck(const Logger &logger, QObject *parent)
    : QObject(parent)
    , m_logger(logger)
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &UpdateCheck::due);
}

void UpdateCheck::setMinutes(const CycleClock &clock, std::chrono::minutes period)
{
    clock.setMinutes(m_timer, period, KEY_T_CHECK,
                     std::chrono::minutes(ConfigKeys::floorOf(&Params::t_check)));
}

int UpdateCheck::intervalMsec() const
{
    return m_timer->interval();
}

void UpdateCheck::start()
{
    m_timer->start();
}

bool UpdateCheck::startIfIdle()
{
    if (m_timer->isActive())
        return false;
    m_timer->start();
    return true;
}

void UpdateCheck::stop()
{
    m_timer->stop();
}

bool UpdateCheck::isActive() const
{
    return m_timer->isActive();
}

void UpdateCheck::pause()
{
    m_timer->blockSignals(true);
}

void UpdateCheck::resume()
{
    m_timer->blockSignals(false);
}

bool UpdateCheck::takeIfNew(const QStringList &packages, const QString &where)
{
    bool taken = false;
    if (!packages.isEmpty()) {
        m_logger.debug(where, QStringLiteral("!tmp.isEmpty()"));
        if (m_upgradable != packages) {
            m_logger.debug(where, QStringLiteral("m_upgradableList != tmp"));
            m_upgradable = packages;
            taken = true;
        }
    }
    m_logger.debug(where, QStringLiteral("result = %1").arg(taken ? 1 : 0));
    return taken;
}

void UpdateCheck::restore(const QString &release, const QStringList &listing)
{
    m_release = release;
    m_upgradable = listing;
}

void UpdateCheck::setRelease(const QString &release)
{
    m_release = release;
}

void UpdateCheck::forget()
{
    m_upgradable.clear();
}

void UpdateCheck::markSuccess(const QDateTime &when)
{
    m_lastSuccess = when;
}

QString UpdateCheck::minorRelease(const QString &candidate)
{
    if (candidate.split(QLatin1Char('.')).size() < 4 || candidate.contains(QLatin1String("hotfix")))
        return candidate;
    return candidate.left(candidate.lastIndexOf(QLatin1Char('.')));
}
