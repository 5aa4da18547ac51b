// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

// The major-release upgrade report reader: any file content must give
// answers that agree with each other, and never a crash.

#include "fuzzsandbox.h"
#include "updatestate.h"

#include <QByteArray>
#include <QFile>

using KirtaUpdateState::UpdateState;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSandbox::silenceQtMessages();
    FuzzSandbox::requireInside(UpdateState::MAJOR_FILE);
    FuzzSandbox::requireInside(UpdateState::MINOR_FILE);
    // Without the minor status file only the report decides the state.
    FuzzSandbox::check(!QFile::exists(UpdateState::MINOR_FILE), "minor status file exists");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSandbox::writeFile(UpdateState::MAJOR_FILE,
                           QByteArray(reinterpret_cast<const char *>(data), int(size)));

    const int mode = UpdateState::checkMajorUpdateState();
    const bool defined = UpdateState::isMajorUpdateStateDefined();
    FuzzSandbox::check(defined || mode == -1, "no upgrade_mode, yet a mode other than -1");

    const int expected
            = mode == 3 || mode == 4 ? UpdateState::MajorPending : UpdateState::NothingPending;
    FuzzSandbox::check(UpdateState::getCurrentState() == expected,
                       "getCurrentState() disagrees with checkMajorUpdateState()");

    UpdateState::isMajorUpdateForced();
    UpdateState::majorTargetRelease();
    return 0;
}
