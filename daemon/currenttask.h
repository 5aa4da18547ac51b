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
