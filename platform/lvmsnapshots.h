// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

// LVM snapshot queries, callable from C.
//
// Both queries read one listing of
//   /usr/sbin/lvs --noheadings --separator | -o vg_name,lv_name,lv_attr,origin,data_percent
// (run with LC_ALL=C, at most the time-out long). A line describes a snapshot
// when its lv_attr starts with 's' (snapshot) or 'S' (invalid snapshot, one
// that overflowed) or when its origin is not empty (thin snapshots). A
// snapshot's name is "vg/lv". A missing, failing, crashing or hanging lvs
// (killed at the time-out) counts as no snapshots, with one warning.

#ifdef __cplusplus
extern "C" {
#endif

// The names of all snapshots in listing order, as a malloc'd array of
// malloc'd strings ending with a null pointer; null when there is none or
// lvs fails. Release it with free_existing_lvm_snapshots().
char **existing_lvm_snapshots(void);

// How full the named snapshot is, in percent of its space, rounded down and
// at most 100. `name` is "vg/lv" as above or a plain LV name (the first
// snapshot of that name counts). An invalid snapshot is 100 full; an unknown
// name, an empty or unreadable Data% or a failing lvs give 0.
unsigned int lvm_snapshot_filling_percent(const char *name);

// Releases an array from existing_lvm_snapshots(); null is fine.
void free_existing_lvm_snapshots(char **array);

// Bound on one lvs run, in milliseconds; 30000 unless set. Values below 1
// restore the default.
void set_lvm_query_timeout(int milliseconds);

#ifdef __cplusplus
}
#endif
