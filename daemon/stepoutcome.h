// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

// What a step of the daemon's parts answers: the code its caller (often the
// bus) acts on, and when the step failed, why. The caller that decides what
// the failure means logs it, once.
template<typename Code> struct StepOutcome
{
    Code code;
    // Empty unless the step failed: "path: reason".
    QString failure;
};

// The path alone when the system gave no reason.
inline QString stepFailure(const QString &path, const QString &reason)
{
    return reason.isEmpty() ? path : QStringLiteral("%1: %2").arg(path, reason);
}
