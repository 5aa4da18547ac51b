#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.
# The main job's ways out other than its end: whatever stops it, it says why
# and leaves neither its work tree nor its bus's socket directory behind.
#   bus refused  dbus-daemon (a stand-in first in PATH) refuses to start:
#                the job fails at that check, prints dbus-daemon's own words
#                and cleans up;
#   SIGTERM      the job is stopped while its daemon runs: the daemon, the
#                bus, the socket directory and the work tree are gone.
#
# Usage: tests/main-job-exits.sh MAIN_JOB
# Environment: BUILD_DIR (a sandbox build), MAIN_JOB_WORK_DIR (emptied first).
set -uo pipefail

main_job=$1
work_parent=${MAIN_JOB_WORK_DIR:?MAIN_JOB_WORK_DIR must be set}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kirta-main-job-exits.XXXXXX") || exit 1
job_pid=
failed=0

cleanup() {
    if [ -n "$job_pid" ] && kill -0 "$job_pid" 2>/dev/null; then
        kill -TERM "$job_pid" 2>/dev/null
        wait "$job_pid" 2>/dev/null
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

check() {
    local description=$1
    shift
    if "$@"; then
        echo "ok    $description"
    else
        echo "FAIL  $description"
        failed=$((failed + 1))
    fi
}

contains() {
    grep -qF -- "$2" "$1"
}

# The socket directory the job named in its bus check.
socket_dir_of() {
    sed -n 's/.*private system bus started, listening in \(\/tmp\/kirta-bus\.[^ ]*\).*/\1/p' "$1" | head -n 1
}

work_tree_left() {
    compgen -G "$work_parent/kirta-main-job.*" >/dev/null
}

not_alive() {
    ! kill -0 "$1" 2>/dev/null
}

# Polls a command until it succeeds or the time-out (in seconds) passes.
wait_for() {
    local timeout=$1
    shift
    local deadline=$((SECONDS + timeout))
    until "$@"; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.1
    done
}

rm -rf "$work_parent"
mkdir -p "$work_parent"

echo "== bus refused"
mkdir -p "$scratch/bin"
cat >"$scratch/bin/dbus-daemon" <<'STANDIN'
#!/bin/sh
echo "Failed to start message bus: the stand-in refuses to listen" >&2
exit 1
STANDIN
chmod 0755 "$scratch/bin/dbus-daemon"
PATH="$scratch/bin:$PATH" bash "$main_job" --no-setup --quick >"$scratch/refused.out" 2>&1
status=$?
sed 's/^/    | /' "$scratch/refused.out" | tail -n 8
refused_dir=$(socket_dir_of "$scratch/refused.out")
check "the job fails (status $status)" test "$status" -ne 0
check "at the bus check" contains "$scratch/refused.out" "FAIL  private system bus started"
check "saying why in dbus-daemon's words" \
    contains "$scratch/refused.out" "dbus-daemon: Failed to start message bus: the stand-in refuses to listen"
check "the socket directory was short, under /tmp: ${refused_dir:-none named}" test -n "$refused_dir"
check "and is gone" test ! -e "${refused_dir:-/nonexistent}"
check "the work tree is gone" eval '! work_tree_left'

echo "== SIGTERM"
bash "$main_job" --no-setup --quick >"$scratch/term.out" 2>&1 &
job_pid=$!
daemon_started() {
    grep -q 'daemon started, pid [0-9]' "$scratch/term.out" || not_alive "$job_pid"
}
wait_for 90 daemon_started
daemon_pid=$(sed -n 's/.*daemon started, pid \([0-9]*\).*/\1/p' "$scratch/term.out" | head -n 1)
term_dir=$(socket_dir_of "$scratch/term.out")
check "the daemon started (pid ${daemon_pid:-none}), its bus in ${term_dir:-none}" \
    test -n "$daemon_pid" -a -n "$term_dir" -a -d "$term_dir"
kill -TERM "$job_pid"
wait "$job_pid"
status=$?
job_pid=
sed 's/^/    | /' "$scratch/term.out" | tail -n 4
check "the job ends on SIGTERM (status $status)" test "$status" -eq 130
check "its daemon is gone" not_alive "${daemon_pid:-0}"
check "the socket directory is gone" test ! -e "${term_dir:-/nonexistent}"
check "the work tree is gone" eval '! work_tree_left'

echo "main-job exits: $failed failed"
[ "$failed" -eq 0 ]
