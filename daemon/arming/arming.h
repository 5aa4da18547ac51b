// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "buscontract.h"
#include "stepoutcome.h"

#include <QObject>
#include <QString>
#include <QStringList>

class Logger;

// What arms the upgrade on disk, and what the boot and the activation tool
// read of it:
//
//   link           the name the offline upgrade looks for at boot, a link
//                  to the downloaded packages; without it the boot upgrades
//                  nothing, whatever else says "armed"
//   stamp          beside the link; holds the package listing, so that a
//                  daemon started while armed can still name what the boot
//                  installs
//   frozen copy    the configuration as it was when the upgrade was
//                  prepared; put back at the next start, so that the boot's
//                  hooks and the restored daemon see the same settings
//   status file    "ready" or "activated" and the target release, for the
//                  activation tool
//
// Each step reports what happened in the numbers the bus answers with, and
// when it failed, why (the path and the system's reason). Its debug lines go
// under the caller's place: administrators' filters know them there.
class Arming : public QObject
{
    Q_OBJECT

public:
    struct Paths
    {
        QString link;
        QString linkTarget;
        QString stamp;
        QString settings;
        QString settingsCopy;
        // Where the configuration waits while the copy takes its name.
        QString settingsParking;
        QString status;
        // The daemon's own files, under the sysroot.
        static Paths system();
    };

    template<typename Code> using Outcome = StepOutcome<Code>;

    // Thawing the frozen configuration.
    enum class Thaw {
        NoCopy, // there was none: nothing done
        Removed, // the copy is gone, the configuration in place
        RemovedChanged, // the same, and the configuration had been edited meanwhile
    };

    // `logger` must outlive the part.
    Arming(const Logger &logger, Paths paths, QObject *parent = nullptr);

    const Paths &paths() const { return m_paths; }

    // The link, made or kept.
    Outcome<ArmLink> placeLink(const QString &where);
    // The stamp with `listing`, one package a line; an existing stamp is
    // left as it is.
    Outcome<StampPart> placeStamp(const QStringList &listing, const QString &where);
    Outcome<DisarmLink> removeLink(const QString &where);
    Outcome<StampPart> removeStamp(const QString &where);
    // Quietly, for undoing a failed arm.
    void dropStamp();

    // Link (a link, not a file) and stamp both there: the boot upgrades.
    bool isArmedOnDisk(const QString &where) const;
    // Neither link nor stamp nor frozen copy: nothing for a disarm to undo.
    bool isClearOnDisk() const;
    bool hasFrozenCopy() const;
    bool hasStamp() const;

    // Freezes the configuration; a copy already there is kept. An empty
    // failure when the copy is in place.
    QString freeze(const QString &where);
    // Drops the copy, keeping the configuration as it is now.
    // `originalChanged` is signalled before the copy goes when it differs.
    Thaw thaw(const QString &where);
    // Puts the frozen copy back in the configuration's place; true when the
    // configuration is in place afterwards (to be watched again).
    bool restore(const QString &where);

    // The status file: absent unless the download is complete, else
    // "activated" when armed or "ready", with `targetRelease` when known.
    // An empty failure when the file was written or removed as asked.
    QString writeStatus(bool downloadComplete, bool armed, const QString &targetRelease,
                        const QString &where);

Q_SIGNALS:
    // While thawing: the configuration was edited while frozen, so what was
    // prepared for it no longer holds.
    void originalChanged();

private:
    const Logger &m_logger;
    const Paths m_paths;
};
