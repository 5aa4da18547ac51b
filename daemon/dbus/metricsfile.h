// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include "logger.h"

#include <QString>

struct StatusSnapshot;

// The daemon's state as a Prometheus text file for node_exporter's
// textfile collector. Each write replaces the file as a whole (a new file
// renamed over the old one), so the collector never reads half of it.
class MetricsFile
{
public:
    MetricsFile();

    // Writes `snapshot` to `path` (as configured; the sandbox prefix is
    // added here), mode 0644, creating missing directories (0755). A link
    // at the file's name is replaced, never followed. An empty path writes
    // nothing. Failures are logged once per path, not at every change.
    void write(const QString &path, const StatusSnapshot &snapshot);

    // The file's text.
    static QByteArray render(const StatusSnapshot &snapshot);

private:
    Logger m_logger;
    QString m_failedPath;
};
