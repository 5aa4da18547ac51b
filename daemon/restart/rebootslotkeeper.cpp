// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "rebootslotkeeper.h"

#include "constants.h"
#include "rebootlock.h"
#include "restartconfig.h"

#include <QFile>
#include <QSaveFile>
#include <QTimer>

RebootSlotKeeper::RebootSlotKeeper(const QString &markPath, QObject *parent)
    : QObject(parent)
    , m_markPath(markPath)
    , m_logger(LOG_FILE_PATH, Logger::Info)
    , m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(RestartConfig::recheckMs(RETRY_MS));
    connect(m_retry, &QTimer::timeout, this, &RebootSlotKeeper::consider);
    QFile mark(m_markPath);
    if (mark.open(QIODevice::ReadOnly)) {
        m_held = true;
        // First line: what granted it; second: since when.
        const QList<QByteArray> lines = mark.readAll().split('\n');
        if (lines.size() > 1)
            m_since = QDateTime::fromString(QString::fromUtf8(lines.at(1)), Qt::ISODate);
    }
}

void RebootSlotKeeper::setLock(RebootLock *lock)
{
    if (lock == m_lock)
        return;
    if (m_lock)
        disconnect(m_lock, nullptr, this, nullptr);
    m_lock = lock;
    m_releasing = false;
    if (lock) {
        connect(lock, &RebootLock::granted, this, &RebootSlotKeeper::onGranted);
        connect(lock, &RebootLock::released, this, &RebootSlotKeeper::onReleased);
        connect(lock, &RebootLock::denied, this, &RebootSlotKeeper::onDenied);
    }
    consider();
}

void RebootSlotKeeper::setRetryInterval(int msec)
{
    m_retry->setInterval(qMax(1, msec));
}

void RebootSlotKeeper::begin()
{
    m_begun = true;
    consider();
}

void RebootSlotKeeper::setVerdict(Verdict verdict, const QStringList &reasons)
{
    if (verdict == m_verdict && reasons == m_reasons)
        return;
    m_verdict = verdict;
    m_reasons = reasons;
    consider();
}

void RebootSlotKeeper::setRestartPlanned(bool planned)
{
    if (planned == m_restartPlanned)
        return;
    m_restartPlanned = planned;
    consider();
}

int RebootSlotKeeper::releaseByHand(const QString &who)
{
    if (!m_held)
        return NothingHeld;
    if (!m_lock)
        return NoLock;
    m_logger.info(
            QStringLiteral("Fleet lock slot given back by %1 (%2)").arg(who, m_lock->describe()));
    m_byHand = true;
    m_retry->stop();
    giveBack();
    return Asked;
}

void RebootSlotKeeper::onGranted()
{
    ++m_answers.granted;
    if (m_releasing)
        return;
    if (!m_held) {
        m_since = QDateTime::currentDateTimeUtc();
        if (!writeMark())
            m_logger.warning(QStringLiteral("Cannot write %1: the slot is not given back "
                                            "automatically after the restart")
                                     .arg(m_markPath));
        m_held = true;
    }
    consider();
}

void RebootSlotKeeper::onReleased()
{
    ++m_answers.released;
    m_releasing = false;
    m_byHand = false;
    m_releaseError.clear();
    m_retry->stop();
    if (m_held) {
        if (!QFile::remove(m_markPath) && QFile::exists(m_markPath))
            m_logger.warning(QStringLiteral("Cannot remove %1").arg(m_markPath));
        m_logger.info(QStringLiteral("Fleet lock slot given back"));
    }
    m_held = false;
    m_since = QDateTime();
    consider();
}

void RebootSlotKeeper::onDenied(const QString &why)
{
    ++m_answers.denied;
    if (!m_releasing) {
        publish(m_status.text);
        return;
    }
    m_releasing = false;
    if (why != m_releaseError)
        m_logger.warning(QStringLiteral("Cannot give the fleet lock slot back: %1").arg(why));
    m_releaseError = why;
    // Tried again later; the byHand wish stays.
    m_retry->start();
    consider();
}

void RebootSlotKeeper::giveBack()
{
    if (m_releasing || !m_lock)
        return;
    m_releasing = true;
    publish(QStringLiteral("giving the slot back"));
    m_lock->release();
}

void RebootSlotKeeper::consider()
{
    if (!m_held) {
        m_retry->stop();
        publish(QString());
        return;
    }
    if (m_releasing)
        return;
    if (!m_releaseError.isEmpty() && m_retry->isActive()) {
        publish(QStringLiteral("held, cannot give it back: %1").arg(m_releaseError));
        return;
    }
    if (!m_lock) {
        publish(QStringLiteral("held, but no usable lock is configured to give it back to"));
        return;
    }
    if (m_byHand) {
        giveBack();
        return;
    }
    if (!m_begun) {
        publish(QStringLiteral("held since the restart"));
        return;
    }
    QString keep;
    switch (m_verdict) {
    case Verdict::Judging:
        keep = QStringLiteral("held until the check after the upgrade boot says healthy");
        break;
    case Verdict::Unhealthy:
        keep = QStringLiteral("kept: the system is unhealthy after the upgrade (%1); "
                              "kirta-update-ctl release-lock gives it back")
                       .arg(m_reasons.join(QStringLiteral("; ")));
        break;
    case Verdict::UpgradeFailed:
        keep = QStringLiteral("kept: the offline upgrade failed; kirta-update-ctl "
                              "release-lock gives it back");
        break;
    case Verdict::None:
    case Verdict::Healthy:
        if (m_restartPlanned)
            keep = QStringLiteral("held for the planned restart");
        break;
    }
    if (!keep.isEmpty()) {
        if (keep != m_status.text
            && (m_verdict == Verdict::Unhealthy || m_verdict == Verdict::UpgradeFailed))
            m_logger.warning(QStringLiteral("Fleet lock slot %1").arg(keep));
        publish(keep);
        return;
    }
    giveBack();
}

void RebootSlotKeeper::publish(const QString &text)
{
    RebootLockStatus status = m_answers;
    const RebootLock::Tally tally = RebootLock::tally();
    status.acquires = tally.acquires;
    status.releases = tally.releases;
    status.errors = tally.errors;
    status.held = m_held;
    status.since = m_held ? m_since : QDateTime();
    status.text = text;
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged(m_status);
}

bool RebootSlotKeeper::writeMark()
{
    QSaveFile mark(m_markPath);
    if (!mark.open(QIODevice::WriteOnly))
        return false;
    const QString describe = m_lock ? m_lock->describe() : QString();
    mark.write(describe.toUtf8() + '\n' + m_since.toString(Qt::ISODate).toUtf8() + '\n');
    return mark.commit();
}
