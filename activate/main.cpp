// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "checker.h"
#include "sysroot.h"
#include "systemdservice.h"
#include "updatestate.h"

#include <QCoreApplication>

#include <cstdio>

namespace {
const char *const UNIT_NAME = "kirta-activate-update";
const int BAD_STATE = 12;

// stdout goes to a pipe under systemd: flush so that the lines keep their
// order with the attempt lines on stderr.
void say(const char *line)
{
    std::fputs(line, stdout);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char *argv[])
{
    QString sysrootError;
    if (!Sysroot::checkEnvironment(&sysrootError)) {
        std::fprintf(stderr, "kirta-activate-update: %s\n", qPrintable(sysrootError));
        return 1;
    }

    // Needed for the bus connection only; no event loop runs.
    QCoreApplication app(argc, argv);
    Checker checker;

    const int pending = KirtaUpdateState::UpdateState::getCurrentState();
    // Every run disables the unit; the daemon enables it again when it
    // wants another run.
    ZunAdmin::SystemdService(QLatin1String(UNIT_NAME)).disable();

    switch (pending) {
    case KirtaUpdateState::UpdateState::MinorPending:
        say("activating minor\n");
        checker.requestMinorActivation();
        return checker.waitForMinorActivation();
    case KirtaUpdateState::UpdateState::MajorPending:
        say("activating major\n");
        checker.requestMajorActivation();
        return checker.waitForMajorActivation();
    default:
        say("bad state\n");
        return BAD_STATE;
    }
}
