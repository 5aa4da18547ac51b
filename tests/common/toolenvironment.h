// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// Environment for running kirta-update-ctl and kirta-update-notifier from a
// test. In sanitizer builds they keep address and undefined-behaviour checks
// but not the leak check: they may exit right after their last bus call,
// while Qt's bus thread may still hold that call's messages, which
// LeakSanitizer would report. (The activation tool waits for that thread
// before it exits and runs with the leak check.)
inline QProcessEnvironment busClientEnvironment(QProcessEnvironment environment)
{
    const QString asan = QStringLiteral("ASAN_OPTIONS");
    if (environment.contains(asan))
        environment.insert(asan, environment.value(asan) + QStringLiteral(":detect_leaks=0"));
    return environment;
}

// The programs speak the language of the locale: the tests that compare
// their texts ask for English whatever the developer's locale is.
inline QProcessEnvironment withLocale(QProcessEnvironment environment,
                                      const QString &lang = QStringLiteral("C.UTF-8"))
{
    for (const char *variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LC_TIME"})
        environment.remove(QLatin1String(variable));
    environment.insert(QStringLiteral("LANG"), lang);
    return environment;
}

// Starts kirta-update-ctl from the build with `arguments`, times in UTC so
// that its output can be compared line by line, in English unless
// `environment` says otherwise.
inline void startUpdateCtl(QProcess &process, const QStringList &arguments,
                           const QProcessEnvironment &environment
                           = withLocale(QProcessEnvironment::systemEnvironment()))
{
    QProcessEnvironment env = busClientEnvironment(environment);
    env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    process.setProcessEnvironment(env);
    process.start(qEnvironmentVariable("KIRTA_BIN_DIR") + QStringLiteral("/kirta-update-ctl"),
                  arguments);
}
