// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "rebootlock.h"

// Stands in for a lock the settings ask for but describe wrongly: every
// request is refused with what is wrong, so the machine waits instead of
// restarting without the lock its fleet counts on.
class UnusableRebootLock : public RebootLock
{
    Q_OBJECT

public:
    explicit UnusableRebootLock(const QString &why, QObject *parent = nullptr);

    void acquire() override;
    void release() override;
    QString describe() const override;

private:
    void refuseLater();

    QString m_why;
};
