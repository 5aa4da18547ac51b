// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "unusablerebootlock.h"

#include <QTimer>

UnusableRebootLock::UnusableRebootLock(const QString &why, QObject *parent)
    : RebootLock(parent)
    , m_why(QStringLiteral("the lock is misconfigured: %1").arg(why))
{ }

void UnusableRebootLock::acquire()
{
    countRequest(true);
    refuseLater();
}

void UnusableRebootLock::release()
{
    countRequest(false);
    refuseLater();
}

QString UnusableRebootLock::describe() const
{
    return m_why;
}

void UnusableRebootLock::refuseLater()
{
    // Answers come later, never inside the request, like a real lock's.
    QTimer::singleShot(0, this, [this] { refuse(CONFIGURATION, m_why); });
}
