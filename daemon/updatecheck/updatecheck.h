// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>

class CycleClock;
class Logger;
class QTimer;

// The periodic check for updates: the timer that makes it due every
// "T_check" minutes, and what the checks remember between them (the
// release and the upgradable listing last seen, when the package lists were
// last read without fault).
//
// What a check moves is the facade's to decide; this part tells when one is
// due and whether the listing it found is new. Its debug lines go under the
// caller's place: administrators' filters know them there.
class UpdateCheck : public QObject
{
    Q_OBJECT

public:
    // `logger` must outlive the part. The timer is stopped until started.
    explicit UpdateCheck(const Logger &logger, QObject *parent = nullptr);

    // The period ("T_check"), held by the clock's bounds (a warning when
    // held).
    void setMinutes(const CycleClock &clock, std::chrono::minutes period);
    int intervalMsec() const;

    // (Re)starts the period from now.
    void start();
    // Starts the period unless it runs already; true when it started it.
    bool startIfIdle();
    void stop();
    bool isActive() const;
    // While a check runs, a period ending in a nested event loop must not
    // begin a second one inside it: due stays silent until resumed.
    void pause();
    void resume();

    // Takes `packages` as the listing when it is not empty and differs from
    // the one kept; true when it did (new packages to download).
    bool takeIfNew(const QStringList &packages, const QString &where);
    const QStringList &upgradable() const { return m_upgradable; }
    // An armed upgrade read back at start: its release and listing are the
    // ones kept.
    void restore(const QString &release, const QStringList &listing);
    // The update is dropped or none is left: the next listing is new.
    void forget();

    void markSuccess(const QDateTime &when);
    const QDateTime &lastSuccess() const { return m_lastSuccess; }

    // The release the update found brings; clients and the activation
    // tool's status file read it.
    void setRelease(const QString &release);
    const QString &release() const { return m_release; }
    // The release a candidate version of the release package names: a fourth
    // part is a build of the same release, except for a hotfix.
    static QString minorRelease(const QString &candidate);

    // Whole-daemon tests look at the period itself.
    QTimer *timer() const { return m_timer; }

Q_SIGNALS:
    void due();

private:
    const Logger &m_logger;
    QTimer *m_timer = nullptr;
    QString m_release;
    QStringList m_upgradable;
    QDateTime m_lastSuccess;
};
