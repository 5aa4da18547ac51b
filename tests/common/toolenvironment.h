#pragma once

#include <QProcessEnvironment>

// Environment for running kirta-activate-update from a test. In sanitizer
// builds the tool keeps address and undefined-behaviour checks but not the
// leak check: it exits right after its last bus call, while Qt's bus thread
// may still hold that call's messages, which LeakSanitizer then reports.
inline QProcessEnvironment activationToolEnvironment(QProcessEnvironment environment)
{
    const QString asan = QStringLiteral("ASAN_OPTIONS");
    if (environment.contains(asan))
        environment.insert(asan, environment.value(asan) + QStringLiteral(":detect_leaks=0"));
    return environment;
}
