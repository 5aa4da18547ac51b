// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

namespace KirtaUpdateState {

// Which upgrade is waiting to be armed, read from two files written by
// others. Nothing here throws or writes; an unreadable file counts as absent.
//
// MINOR_FILE, the update daemon's status file: INI text as QSettings writes
// it, keys in the general group:
//   status=ready|activated      a downloaded minor update, not yet / already
//                               armed for the next reboot
//   target_release=<version>    optional, the version it brings
//
// MAJOR_FILE, the major-release upgrade tool's report: a YAML mapping
//   upgrade_mode: <int>         0   no major-release upgrade
//                               3   an upgrade is prepared and waits to be
//                                   armed
//                               4   the upgrade is armed for the next reboot
//                               other values are the tool's own in-between
//                               states; anything but 0 keeps the update
//                               daemon away
//   forced: <bool>              optional; the upgrade may not be refused
//   target_release: <string>    optional, the release it brings
// Unknown keys are ignored.
class UpdateState
{
public:
    static const QString MINOR_FILE;
    static const QString MAJOR_FILE;

    enum PendingUpgrade { NothingPending = 0, MinorPending = 1, MajorPending = 3 };

    // upgrade_mode of the report, -1 when the report is missing, is no
    // mapping or has no integer upgrade_mode.
    static int checkMajorUpdateState();
    // True exactly when checkMajorUpdateState() gives a real mode.
    static bool isMajorUpdateStateDefined();
    // True only when the report says "forced: true" (any YAML true form).
    static bool isMajorUpdateForced();
    // MajorPending when upgrade_mode is 3 or 4 (asking to arm an armed
    // upgrade again does no harm, as with an activated minor update), else
    // MinorPending when the status is "ready" or "activated", else
    // NothingPending.
    static int getCurrentState();

    // target_release of the status file, or empty.
    static QString minorTargetRelease();
    // target_release of the report when it is a scalar, or empty.
    static QString majorTargetRelease();
};

} // namespace KirtaUpdateState
