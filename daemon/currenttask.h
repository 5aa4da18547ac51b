// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

// What the update cycle is doing. Stored in plain int members of Daemon, so
// that any value (also one outside this list) can be rendered.
enum class CurrentTask : int {
    Unknown = 0,
    WaitingForConnection = 1,
    WaitingForUpdates = 2,
    WaitingForDownload = 3,
    Downloading = 4,
    DownloadCompleted = 5,
    Error = 6,
    Stopped = 7,
    StoppedForMajor = 8,
};

constexpr int toInt(CurrentTask task)
{
    return static_cast<int>(task);
}

namespace TaskMoves {
constexpr unsigned bit(CurrentTask task)
{
    return 1u << toInt(task);
}
constexpr unsigned ANY = (1u << (toInt(CurrentTask::StoppedForMajor) + 1)) - 1;
// A stop ends the download poll, so nothing it decides comes after a stop.
constexpr unsigned NOT_STOPPED
        = ANY & ~bit(CurrentTask::Stopped) & ~bit(CurrentTask::StoppedForMajor);
// A stop cleans first (WaitingForUpdates, or Error when the clean failed),
// then stops; the end of a connection wait returns to any task it began in.
constexpr unsigned AFTER_CLEAN = bit(CurrentTask::WaitingForUpdates) | bit(CurrentTask::Error)
                                 | bit(CurrentTask::WaitingForConnection);

// The allowed moves: for each task (in enum order), the tasks it may be
// entered from, and who makes the move (Daemon::setTask checks each move in
// debug builds). Staying in a task is always allowed.
constexpr unsigned ENTERED_FROM[] = {
        // Unknown: only back from a connection wait begun at the first check.
        bit(CurrentTask::WaitingForConnection),
        // WaitingForConnection: checkConnection, whenever a ping fails.
        ANY,
        // WaitingForUpdates: setNoUpdates from any task; checkUpdates finding
        // nothing; checkUpdates after a clean that works again.
        ANY,
        // WaitingForDownload: checkUpdates finding new packages; a download
        // that failed to start or whose result is a failure.
        NOT_STOPPED,
        // Downloading: downloadUpdatesByScript, from WaitingForDownload or, in
        // forced mode, from any task.
        ANY,
        // DownloadCompleted: checkDownloadIsFinished; start() with an upgrade
        // armed before it.
        NOT_STOPPED,
        // Error: setNoUpdates whose clean failed.
        ANY,
        // Stopped: setNoUpdates with an error recorded.
        AFTER_CLEAN,
        // StoppedForMajor: setNoUpdates without an error.
        AFTER_CLEAN,
};
} // namespace TaskMoves

// Whether the cycle may move from `from` to `to`. A stored value outside the
// enum never comes from the cycle itself and is left to the caller.
constexpr bool isAllowedTaskMove(int from, CurrentTask to)
{
    if (from == toInt(to) || from < 0 || from > toInt(CurrentTask::StoppedForMajor))
        return true;
    return (TaskMoves::ENTERED_FROM[toInt(to)] & (1u << from)) != 0;
}
