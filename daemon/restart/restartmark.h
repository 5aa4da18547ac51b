// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

// The record, kept across the reboot, of the release an automatic restart
// was made for. A boot that finds it for the release still armed knows the
// offline upgrade did not act on it, and restarting again would loop.
class RestartMark
{
public:
    explicit RestartMark(const QString &path);

    // Records `version`; false with `error` when it cannot, and then no
    // restart may be made.
    bool write(const QString &version, QString *error) const;
    // True when the mark names `version` and was written before this boot
    // began: a mark of this boot is a restart still under way.
    bool madeBeforeThisBoot(const QString &version) const;
    void remove() const;

private:
    QString m_path;
};
