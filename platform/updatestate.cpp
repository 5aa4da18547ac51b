// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "updatestate.h"

#include "sysroot.h"

#include <yaml-cpp/yaml.h>

#include <QFile>
#include <QSettings>
#include <QtDebug>

#include <exception>

namespace KirtaUpdateState {

// Defined here, next to their only users, so that every program linking this
// file gets them initialised before any query can run.
const QString UpdateState::MINOR_FILE
        = Sysroot::path(QStringLiteral("/var/cache/kirta-update-service/status"));
const QString UpdateState::MAJOR_FILE
        = Sysroot::path(QStringLiteral("/var/cache/kirta-upgrade/upgrade.report.yaml"));

namespace {
const char *const MODE_KEY = "upgrade_mode";
const char *const FORCED_KEY = "forced";
const char *const TARGET_KEY = "target_release";
const char *const STATUS_KEY = "status";

// The report's top-level mapping, or an undefined node when there is none.
YAML::Node loadReport()
{
    QFile file(UpdateState::MAJOR_FILE);
    if (!file.open(QIODevice::ReadOnly))
        return YAML::Node(YAML::NodeType::Undefined);
    const QByteArray text = file.readAll();
    try {
        YAML::Node root = YAML::Load(text.toStdString());
        if (root.IsMap())
            return root;
    } catch (const std::exception &e) {
        qWarning("Cannot parse %s: %s", qPrintable(UpdateState::MAJOR_FILE), e.what());
    }
    return YAML::Node(YAML::NodeType::Undefined);
}

// Converts a scalar child of the report; false when it is absent or of
// another type.
template<typename T> bool reportValue(const char *key, T *value)
{
    try {
        const YAML::Node root = loadReport();
        if (!root.IsMap())
            return false;
        const YAML::Node node = root[key];
        if (!node.IsScalar())
            return false;
        *value = node.as<T>();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

QString statusValue(const char *key)
{
    const QSettings status(UpdateState::MINOR_FILE, QSettings::IniFormat);
    return status.value(QLatin1String(key)).toString();
}
} // namespace

int UpdateState::checkMajorUpdateState()
{
    int mode = -1;
    return reportValue(MODE_KEY, &mode) ? mode : -1;
}

bool UpdateState::isMajorUpdateStateDefined()
{
    int mode = -1;
    return reportValue(MODE_KEY, &mode);
}

bool UpdateState::isMajorUpdateForced()
{
    bool forced = false;
    return reportValue(FORCED_KEY, &forced) && forced;
}

int UpdateState::getCurrentState()
{
    int mode = -1;
    if (reportValue(MODE_KEY, &mode) && (mode == 3 || mode == 4))
        return MajorPending;
    const QString status = statusValue(STATUS_KEY).trimmed();
    if (status == QLatin1String("ready") || status == QLatin1String("activated"))
        return MinorPending;
    return NothingPending;
}

QString UpdateState::minorTargetRelease()
{
    return statusValue(TARGET_KEY);
}

QString UpdateState::majorTargetRelease()
{
    std::string release;
    return reportValue(TARGET_KEY, &release) ? QString::fromStdString(release) : QString();
}

} // namespace KirtaUpdateState
