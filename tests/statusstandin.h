// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>

// The update daemon's object as its clients see it, on a test's private bus:
// the Status properties (through the adaptor generated from the installed
// interface file) and the changing methods with canned answers. It records
// each method call as "name [argument]".
class StatusStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "os.kirtalinux.zun.kirtaupdateservice")
    // Declared, unlike the other properties, to count the reads: every
    // GetAll reads it once.
    Q_PROPERTY(QString LastResult READ lastResult WRITE setLastResult)
public:
    explicit StatusStandIn(QObject *parent = nullptr);

    bool publish(QDBusConnection bus);
    void withdraw();

    // Back to a daemon that has found nothing: every property as the
    // daemon gives it then, without telling anybody.
    void reset();
    // Sets properties without telling anybody.
    void set(const QVariantMap &properties);
    // Sets them and announces them in one PropertiesChanged, as the daemon
    // does for the changes of one turn.
    void change(const QVariantMap &properties);

    int enableAnswer = 0;
    int disableAnswer = 0;
    QMap<int, int> stampAnswers;
    int postponeAnswer = 0;
    int cancelAnswer = 0;
    int releaseLockAnswer = 0;
    // Run when enableUpgradeOnReboot is called, before it answers.
    std::function<void()> onEnable;
    QStringList calls;
    mutable int reads = 0;

    QString lastResult() const
    {
        ++reads;
        return m_lastResult;
    }
    void setLastResult(const QString &result) { m_lastResult = result; }

public Q_SLOTS:
    int enableUpgradeOnReboot();
    int disableUpgradeOnReboot();
    int removeUpgradeResultStamp(int type);
    int postponeRestart();
    int cancelRestart();
    int releaseRebootLock();

private:
    QDBusConnection m_bus;
    QString m_lastResult;
};
