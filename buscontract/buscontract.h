// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <type_traits>

// What the update daemon and its peers (the activation tool, the admin
// command, the desktop notices, the tests) agree on over the system bus:
// names, state numbers and words, error numbers and the answers of the
// changing methods. The values are fixed: peers and scripts see them, and
// the bus answers stay plain int and text.
namespace BusContract {

constexpr const char SERVICE[] = "os.kirtalinux.zun.kirtaupdateservice";
constexpr const char PATH[] = "/os/kirtalinux/zun/kirtaupdateservice";
constexpr const char INTERFACE[] = "os.kirtalinux.zun.kirtaupdateservice";
constexpr const char STATUS_INTERFACE[] = "os.kirtalinux.zun.kirtaupdateservice.Status";

// The words of getCurrentStateAsString and the StateName property.
namespace StateWord {
constexpr const char UNKNOWN[] = "unknown";
constexpr const char WAIT_FOR_CONNECTION[] = "wait-for-connection";
constexpr const char NO_UPDATES[] = "no-updates";
constexpr const char WAIT_FOR_DOWNLOAD[] = "wait-for-download";
constexpr const char DOWNLOADING[] = "downloading";
constexpr const char READY[] = "ready";
constexpr const char ACTIVATED[] = "activated";
constexpr const char FORCED[] = "forced";
constexpr const char ERROR[] = "error";
constexpr const char STOPPED[] = "stopped";
constexpr const char STOPPED_FOR_MAJOR[] = "stopped-for-major";
} // namespace StateWord

} // namespace BusContract

// The state number of getCurrentStateAsInt and the State property.
enum class StateNumber : int {
    StoppedForMajor = -3,
    Stopped = -2,
    Undefined = -1, // "unknown" and "error"
    WaitingForConnection = 0,
    NoUpdates = 1,
    WaitingForDownload = 2,
    Downloading = 3,
    Ready = 4,
    Activated = 5,
    Forced = 6,
};

// getCurrentErrorAsInt and the Error property. Above 0 a stop ends in
// "stopped".
enum class ErrorNumber : int {
    None = -1,
    FreeSpace = 1,
    Imitation = 2,
    Validators = 4,
    // The link for the boot-time upgrade could not be made; cleared by the
    // next arm that succeeds and when the update is dropped (a stop, a
    // resume), so it never decides what a stop or a resume does.
    ArmingFailed = 5,
};

// Arming: what happened to the link "/system-update". The arming answer is
// the link part plus the stamp part.
enum class ArmLink : int {
    Created = 0,
    Kept = 1, // a link was there already; its target is not checked
    Replaced = 2, // a non-link was removed and the link created
    ReplaceFailed = 3, // the non-link was removed, the link could not be made
    RemoveFailed = 4, // a non-link is there and could not be removed
    CreateFailed = 5, // nothing was there and the link could not be made
};

// Disarming: what happened to the link.
enum class DisarmLink : int {
    Removed = 0,
    Absent = 1,
    RemoveFailed = 2, // the boot still upgrades: the upgrade stays armed
};

// The stamp part of the arming and disarming answers.
enum class StampPart : int {
    Changed = 0, // created when arming, removed when disarming
    AlreadySo = 10, // present when arming, absent when disarming
    Failed = 20, // could not be created, or is still there
};

// Answers of enableUpgradeOnReboot before it reaches the link.
enum class ArmDeferred : int {
    UntilDownloaded = -10, // remembered; armed when the download completes
    FirstBlockStarted = -5, // the free-space check and imitation come first
};

// isUpgradeCanBeDisabled. Callers refuse only on ForcedArmed, which is also
// what a refused disarm answers.
enum class DisarmCheck : int {
    Allowed = 0,
    ForcedArmed = 89,
    DeadlinePassed = 99,
};

// The type argument of removeUpgradeResultStamp.
enum class ResultStamp : int {
    MinorFailed = 0,
    MinorSucceeded = 1,
    MajorAborted = 2,
    MajorSucceeded = 3,
};

// Answers of removeUpgradeResultStamp.
enum class StampRemoval : int {
    Removed = 0,
    Absent = 1, // also for an unknown type
    Failed = 2,
};

// The argument of setStateFromOutside.
enum class OutsideState : int {
    Resume = 0, // drop the update, resume checking on the timer
    Ready = 1, // disarm
    Arm = 2,
    Stop = 3,
    Forced = 4,
    StopEvenForced = 5, // stop, also when armed in forced mode, and clear the deadlines
};

// Answers of setStateFromOutside other than an arming or disarming answer.
enum class OutsideAnswer : int {
    Done = 0,
    UnknownState = -1,
};

template<typename Code, typename = std::enable_if_t<std::is_enum<Code>::value>>
constexpr int toInt(Code code)
{
    return static_cast<int>(code);
}
