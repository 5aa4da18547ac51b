// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "restartconfig.h"

#include "params.h"
#include "settingskeys.h"
#include "sysroot.h"

QString RestartConfig::modeWord(Mode mode)
{
    switch (mode) {
    case Mode::AfterDeadline:
        return QStringLiteral("after-deadline");
    case Mode::InWindow:
        return QStringLiteral("in-window");
    case Mode::Never:
        break;
    }
    return QStringLiteral("never");
}

RestartConfig RestartConfig::fromParams(const Params &params)
{
    RestartConfig config;
    config.announce = params.restartAnnounce();
    config.minBatteryPercent = params.restart_min_battery.second;
    const QString word = params.restart_policy.second.trimmed();
    bool known = false;
    for (Mode mode : {Mode::Never, Mode::AfterDeadline, Mode::InWindow}) {
        if (word.compare(modeWord(mode), Qt::CaseInsensitive) == 0) {
            config.mode = mode;
            known = true;
        }
    }
    if (!known && !word.isEmpty()) {
        config.error = QStringLiteral("%1 = \"%2\" is not one of never, after-deadline, "
                                      "in-window; no automatic restart")
                               .arg(KEY_RESTART_POLICY, word);
        config.mode = Mode::Never;
        return config;
    }
    if (config.mode == Mode::Never)
        return config;
    config.window = MaintenanceWindow::parse(params.maintenance_windows.second);
    if (!config.window.isValid()) {
        config.error = QStringLiteral("%1: %2; no automatic restart")
                               .arg(KEY_MAINTENANCE_WINDOWS, config.window.errorString());
        config.mode = Mode::Never;
    }
    return config;
}

int RestartConfig::recheckMs(int product)
{
    if (!Sysroot::isSandbox())
        return product;
    bool ok = false;
    const int test = qEnvironmentVariableIntValue("KIRTA_TEST_RECHECK_MS", &ok);
    return ok && test > 0 ? test : product;
}
