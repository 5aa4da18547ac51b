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

// Starts kirta-update-ctl from the build with `arguments`, times in UTC so
// that its output can be compared line by line.
inline void startUpdateCtl(QProcess &process, const QStringList &arguments)
{
    QProcessEnvironment env = busClientEnvironment(QProcessEnvironment::systemEnvironment());
    env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    process.setProcessEnvironment(env);
    process.start(qEnvironmentVariable("KIRTA_BIN_DIR") + QStringLiteral("/kirta-update-ctl"),
                  arguments);
}
