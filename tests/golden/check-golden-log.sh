#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.
# The daemon's log of one whole update cycle, line for line as it was
# recorded: the main job runs (with its arguments), and its daemon's log,
# with what differs from run to run masked, must equal GOLDEN (same texts,
# same order, same levels). Administrators' filters and support notes read
# these lines, so an inner change of the daemon must leave them alone.
#
# Masked: the time stamp of each line, the main job's work directory
# (a new temporary directory each run), the apt repository's short link
# directory, process ids, the deadline and other dates written into the
# lines. Left out whole: the bus thread's once-a-minute count of calls
# ("Answered N read calls ..."), whose numbers and whether it falls inside
# the run depend on how often the main job polls.
#
# The second form does the same for one whole-cycle scenario of a Qt Test
# program that runs the daemon in its own process, in a sandbox tree of its
# own: its log is what the daemon wrote in that scenario. Only scenarios
# whose log order does not depend on timing are recorded. Left out whole
# there as well: the lines of the getters the test itself polls while it
# waits (their number depends on how fast the cycle runs; the daemon never
# calls them itself).
#
# Usage: tests/golden/check-golden-log.sh [--update] GOLDEN [MAIN_JOB_ARG...]
#        tests/golden/check-golden-log.sh [--update] GOLDEN --scenario PROGRAM FUNCTION
#   --update  write the masked log to GOLDEN instead of comparing
#   --scenario PROGRAM FUNCTION
#             run FUNCTION (a test function, with :ROW for a data row) of
#             the test program PROGRAM in BUILD_DIR/bin instead of the main job
# Environment: BUILD_DIR (a sandbox build), MAIN_JOB_WORK_DIR (where the
# main job makes its work tree; a temporary directory when unset).
set -uo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
update=0
if [ "${1:-}" = --update ]; then
    update=1
    shift
fi
golden=${1:?usage: check-golden-log.sh [--update] GOLDEN [MAIN_JOB_ARG...]}
shift

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kirta-golden.XXXXXX") || exit 1
work_parent=${MAIN_JOB_WORK_DIR:-$scratch/work}
mkdir -p "$work_parent"
kept=
cleanup() {
    rm -rf "$scratch"
    [ -z "$kept" ] || rm -rf "$kept"
}
trap cleanup EXIT

polled=
if [ "${1:-}" = --scenario ]; then
    program=${2:?usage: check-golden-log.sh [--update] GOLDEN --scenario PROGRAM FUNCTION}
    function=${3:?usage: check-golden-log.sh [--update] GOLDEN --scenario PROGRAM FUNCTION}
    build_dir=${BUILD_DIR:-$repo_root/build}
    kept=$scratch/root
    described="$program $function"
    mkdir -p "$kept"
    if ! KIRTA_SYSROOT=$kept KIRTA_BIN_DIR=$build_dir/bin \
        KIRTA_STANDIN_DIR=$repo_root/tests/standins KIRTA_SOURCE_DIR=$repo_root \
        QT_QPA_PLATFORM=offscreen "$build_dir/bin/$program" "$function" \
        >"$scratch/scenario.out" 2>&1; then
        echo "check-golden-log: $described failed; its output:"
        cat "$scratch/scenario.out"
        exit 1
    fi
    if ! grep -q '^PASS   : .*'"${function%%:*}" "$scratch/scenario.out"; then
        echo "check-golden-log: $described ran no such test; its output:"
        cat "$scratch/scenario.out"
        exit 1
    fi
    polled=' DEBUG bool Daemon::isUpgradeOnRebootEnabled\(\) const: '
    log=$kept/var/log/kirta-update-service/service.log
else
    described="scripts/main-job $*"
    MAIN_JOB_WORK_DIR=$work_parent bash "$repo_root/scripts/main-job" --no-setup --keep "$@" \
        >"$scratch/main-job.out" 2>&1
    job_status=$?
    kept=$(sed -n 's/^main-job: work tree kept in //p' "$scratch/main-job.out" | tail -n 1)
    if [ "$job_status" -ne 0 ] || [ -z "$kept" ]; then
        echo "check-golden-log: the main job failed (status $job_status); its output:"
        cat "$scratch/main-job.out"
        exit 1
    fi
    log=$kept/root/var/log/kirta-update-service/service.log
fi
if [ ! -s "$log" ]; then
    echo "check-golden-log: no daemon log at $log"
    exit 1
fi

# The order matters: paths before numbers, so that a pid inside a path is
# not masked twice.
mask() {
    sed -E \
        -e '/ INFO Answered [0-9]+ read calls and refused [0-9]+ changes in the last /d' \
        -e "${polled:+/$polled/d}" \
        -e 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} /TIME /' \
        -e "s|$kept|WORK|g" \
        -e 's|/tmp/kirta-repo\.[A-Za-z0-9]+|REPOLINK|g' \
        -e 's/(pid|PID|process|session|group)( id)?( =|:)? [0-9]+/\1\2\3 PID/g' \
        -e 's/[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}:[0-9]{2}(:[0-9]{2})?/DATE/g' \
        -e 's/[0-9]{4}-[0-9]{2}-[0-9]{2}[T ][0-9]{2}:[0-9]{2}(:[0-9]{2})?/DATE/g' \
        -e 's/[0-9]{2}:[0-9]{2} [0-9]{2}\.[0-9]{2}\.[0-9]{4}/DATE/g' \
        "$1"
}

mask "$log" >"$scratch/masked.log"
if [ "$update" -eq 1 ]; then
    {
        echo "# SPDX-License-Identifier: GPL-2.0-or-later"
        echo "# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version."
        echo "# The daemon's log of: $described; written by tests/golden/check-golden-log.sh --update"
        cat "$scratch/masked.log"
    } >"$golden"
    echo "check-golden-log: wrote $(wc -l <"$scratch/masked.log") lines to $golden"
    exit 0
fi

grep -v '^#' "$golden" >"$scratch/golden.log"
if diff -u --label "expected ($golden)" --label "this run (masked)" \
    "$scratch/golden.log" "$scratch/masked.log" >"$scratch/diff"; then
    echo "check-golden-log: $(wc -l <"$scratch/masked.log") lines as recorded in $golden"
    exit 0
fi
echo "check-golden-log: the daemon's log differs from $golden (- recorded, + this run):"
cat "$scratch/diff"
false
