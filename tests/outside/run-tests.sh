#!/bin/bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.
# Tests of the outside programs (stage program, imitation, offline upgrade)
# against a real apt state: a private apt configuration, local repositories
# built here with dpkg-deb, and a sandbox root with its own dpkg database.
# No network, nothing outside the work directory is touched.
#
# Usage: run-tests.sh WORK_DIR
# Environment: KIRTA_OUTSIDE_DIR (the programs), KIRTA_OUTSIDE_BUILD_DIR
# (the build directory of outside/, for the install case),
# KIRTA_INSTALL_PREFIX, KIRTA_INSTALL_SBINDIR, KIRTA_INSTALL_BINDIR,
# KIRTA_INSTALL_LIBEXECDIR.

set -u

# Followed with shellcheck -x, and checked on its own otherwise.
# shellcheck source-path=SCRIPTDIR source=../../scripts/lib/aptsandbox.sh disable=SC1091
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/aptsandbox.sh"

WORK=${1:?work directory}
OUTSIDE=${KIRTA_OUTSIDE_DIR:?}
SERVICE=$OUTSIDE/kirta-update-service
MODERN=$OUTSIDE/kirta-update-modern
OFFLINE=$OUTSIDE/kirta-offline-upgrade

export LC_ALL=C
unset KIRTA_SYSROOT APT_CONFIG KIRTA_REBOOT_COMMAND KIRTA_SYSTEMCTL KIRTA_UPGRADE_TIMEOUT KIRTA_REPAIR_TIMEOUT \
    KIRTA_POWER_SUPPLY_DIR

rm -rf "$WORK"
mkdir -p "$WORK"
REPOS=$WORK/repos

passed=0
failed=0
skipped=0

# --- fixtures ---------------------------------------------------------------

# make_package REPO NAME VERSION [CONTROL-LINES]; hello-kirta ships a
# configuration file.
make_package() {
    local conffile=no
    [ "$2" = hello-kirta ] && conffile=yes
    aptsandbox_make_package "$WORK/pkgbuild" "$REPOS/$1" "$2" "$3" "$conffile" "${4:-}"
}

index_repo() {
    aptsandbox_index_repo "$REPOS/$1"
}

build_repos() {
    # The upgrade needs about 2 MB once unpacked; the free-space cases rely on it.
    make_package good hello-kirta 2.0 'Installed-Size: 2000'
    make_package good kirta-version 12.4.1
    index_repo good
    make_package broken kirta-broken 2.0 'Depends: kirta-missing'
    index_repo broken
    make_package vanishing hello-kirta 2.0
    index_repo vanishing
    make_package newer hello-kirta 3.0
    index_repo newer
    make_fragile_package
}

# kirta-fragile 2.0: its maintainer script does what the file "fault" in the
# root asks, once: "fail" or "hang".
make_fragile_package() {
    local build=$WORK/pkgbuild-fragile
    aptsandbox_make_package "$build" "$REPOS/fragile" kirta-fragile 2.0 no || return 1
    cat >"$build/kirta-fragile_2.0/DEBIAN/postinst" <<'EOF'
#!/bin/sh
fault=$DPKG_ROOT/fault
[ -f "$fault" ] || exit 0
case $(cat "$fault") in
    fail) rm -f "$fault"; exit 1 ;;
    hang) rm -f "$fault"; exec sleep 100 ;;
esac
EOF
    chmod +x "$build/kirta-fragile_2.0/DEBIAN/postinst"
    dpkg-deb -Zgzip --root-owner-group -b "$build/kirta-fragile_2.0" \
        "$REPOS/fragile/kirta-fragile_2.0_all.deb" >/dev/null && index_repo fragile
}

# new_sandbox [HELLO-VERSION]: fresh root with hello-kirta (1.0 by default)
# and kirta-broken 1.0 installed, and an apt state of its own. Sets S, ROOT
# and the environment the programs read.
new_sandbox() {
    local hello=${1:-1.0}
    S=$(mktemp -d "$WORK/case.XXXXXX")
    ROOT=$S/root
    populate_root "$hello"
    aptsandbox_apt_state "$S/apt" "$ROOT"
    export KIRTA_SYSROOT=$ROOT APT_CONFIG=$S/apt/config
}

# The sandbox root; kept apart so that a case can lay it on a small tmpfs.
populate_root() {
    aptsandbox_new_root "$ROOT"
    mkdir -p "$ROOT/var/cache/kirta-update-service/sources" "$ROOT/etc/kirta-update-service/hooks"
    aptsandbox_install "$ROOT" hello-kirta "$1" yes
    aptsandbox_install "$ROOT" kirta-broken 1.0 no no
}

source_line() {
    aptsandbox_source_line "$REPOS/$1"
}

# Runs a program with its stderr kept in the case's log; sets rc and out.
run() {
    out=$("$@" 2>>"$S/stderr")
    rc=$?
    printf '$ %s\n%s\n' "$*" "$out" >>"$S/stderr"
}

# --- assertions -------------------------------------------------------------

fail() {
    printf '    %s\n' "$*"
    case_failed=1
}

expect_rc() {
    [ "$rc" = "$1" ] || fail "$2: exit code $rc, expected $1"
}

expect_file() {
    [ -e "$1" ] || fail "missing: $1"
}

expect_no_file() {
    if [ -e "$1" ] || [ -L "$1" ]; then
        fail "should not exist: $1"
    fi
}

expect_text() {
    case "$2" in
        *"$1"*) ;;
        *) fail "output lacks '$1'" ;;
    esac
}

run_case() {
    local name=$1
    shift
    local status=0
    (
        case_failed=0
        "$@"
        exit "$case_failed"
    ) >"$WORK/case.out" 2>&1 || status=$?
    if [ "$status" -eq 77 ]; then
        echo "SKIP  $name: $(tail -n 1 "$WORK/case.out")"
        skipped=$((skipped + 1))
    elif [ "$status" -eq 0 ]; then
        echo "PASS  $name"
        passed=$((passed + 1))
    else
        echo "FAIL  $name"
        sed 's/^/    /' "$WORK/case.out"
        local log
        log=$(sed -n 's/^SANDBOX=//p' "$WORK/case.out" | tail -n 1)
        if [ -n "$log" ] && [ -f "$log/stderr" ]; then
            echo "    --- program output (last 40 lines) ---"
            tail -n 40 "$log/stderr" | sed 's/^/    /'
        fi
        failed=$((failed + 1))
    fi
}

# Every case starts with its own sandbox and names it for the failure report.
sandbox() {
    new_sandbox "$@"
    echo "SANDBOX=$S"
}

need_root_mounts() {
    if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
        echo "needs root and mount namespaces"
        exit 77
    fi
}

# --- cases: stage program ---------------------------------------------------

# Which lists each repository policy makes apt read, told by the exit code
# of "update": main list, sources parts directory and the daemon's sources
# directory each hold the upgrade in one scenario.
case_update_policies() {
    local row where policy arg want
    # where-the-good-repo-is  policy  how-given  expected-exit
    for row in \
        "main 0 arg 100" "main 1 arg 100" "main 2 arg 0" "main 3 arg 100" \
        "parts 0 arg 0" "parts 1 arg 100" "parts 2 arg 0" "parts 3 arg 0" \
        "extra 0 arg 0" "extra 1 arg 0" "extra 2 arg 100" "extra 3 arg 100" \
        "extra 2 file 100" "extra 0 file 0" "extra 7 arg 0"; do
        read -r where policy arg want <<<"$row"
        sandbox >/dev/null
        case "$where" in
            main) source_line good >"$S/apt/sources.list" ;;
            parts) source_line good >"$S/apt/sources.list.d/good.list" ;;
            extra) source_line good >"$ROOT/var/cache/kirta-update-service/sources/good.list" ;;
        esac
        if [ "$arg" = file ]; then
            printf '%s' "$policy" >"$ROOT/var/cache/kirta-update-service/repos_policy"
            run "$SERVICE" update
        else
            run "$SERVICE" update "$policy"
        fi
        expect_rc "$want" "update, good repository in $where, policy $policy ($arg)"
    done
}

case_update_nothing_to_upgrade() {
    # Installed newer than the repository's: no upgrade, and no downgrade.
    sandbox 3.0
    source_line good >"$S/apt/sources.list"
    source_line broken >"$S/apt/sources.list.d/broken.list"
    # Only the broken upgrade is offered, and it cannot be made.
    run "$SERVICE" update 1
    expect_rc 0 "update with everything up to date"
}

case_download_downresult_clean() {
    sandbox
    source_line good >"$S/apt/sources.list"
    local archives=$ROOT/var/cache/apt/archives
    run "$SERVICE" downresult
    expect_rc 1 "downresult before any download"
    run "$SERVICE" update 0
    expect_rc 100 "update"
    run "$SERVICE" download 0
    expect_rc 0 "download"
    expect_file "$archives/hello-kirta_2.0_all.deb"
    run "$SERVICE" downresult
    expect_rc 0 "downresult after a good download"
    run "$SERVICE" clean
    expect_rc 0 "clean"
    expect_no_file "$archives/hello-kirta_2.0_all.deb"
    run "$SERVICE" downresult
    expect_rc 1 "downresult after clean"
}

case_download_failure() {
    sandbox
    source_line vanishing >"$S/apt/sources.list"
    run "$SERVICE" update 0
    expect_rc 100 "update"
    # The index names a package file that is gone by download time.
    mv "$REPOS/vanishing/hello-kirta_2.0_all.deb" "$WORK/vanished.deb"
    run "$SERVICE" download 0
    mv "$WORK/vanished.deb" "$REPOS/vanishing/hello-kirta_2.0_all.deb"
    [ "$rc" -ne 0 ] || fail "download of a missing file exited 0"
    run "$SERVICE" downresult
    [ "$rc" -ne 0 ] || fail "downresult after a failed download exited 0"
    # The policy number comes from the repos policy file when not given.
    printf '0' >"$ROOT/var/cache/kirta-update-service/repos_policy"
    run "$SERVICE" download
    expect_rc 0 "download again, policy from the file"
    run "$SERVICE" downresult
    expect_rc 0 "downresult after the repeated download"
}

case_exec_scripts_order() {
    sandbox
    local hooks=$ROOT/etc/kirta-update-service/hooks record=$S/record
    mkdir -p "$hooks/0-1.d" "$hooks/1-0.d"
    local name
    for name in 20-b 10-a 30-c 40-fail 50-after 15-not-executable 25-backup~; do
        printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$name" "$record" >"$hooks/0-1.d/$name"
        [ "$name" = 15-not-executable ] || chmod +x "$hooks/0-1.d/$name"
    done
    echo 'exit 3' >>"$hooks/0-1.d/40-fail"
    printf '#!/bin/sh\necho "other $*" >>"%s"\n' "$record" >"$hooks/1-0.d/10-other"
    chmod +x "$hooks/1-0.d/10-other"

    run "$SERVICE" exec_scripts 0 1
    expect_rc 1 "exec_scripts with a failing hook"
    run "$SERVICE" exec_scripts 0 1 1
    expect_rc 1 "exec_scripts with a previous stage"
    run "$SERVICE" exec_scripts 1 0
    expect_rc 0 "exec_scripts 1 0"
    local want
    want=$(printf '%s\n' "10-a 0 1" "20-b 0 1" "30-c 0 1" "40-fail 0 1" "50-after 0 1" \
        "10-a 0 1 1" "20-b 0 1 1" "30-c 0 1 1" "40-fail 0 1 1" "50-after 0 1 1" "other 1 0")
    [ "$(cat "$record" 2>/dev/null)" = "$want" ] ||
        fail "hooks ran as: $(tr '\n' ',' <"$record" 2>/dev/null), expected $(tr '\n' ',' <<<"$want")"

    run "$SERVICE" exec_scripts 1 1
    expect_rc 0 "exec_scripts without a hooks directory"
    run "$SERVICE" exec_scripts ../.. 1
    expect_rc 2 "exec_scripts with a path as stage"
}

# Hooks run as root: one that another user could change is refused, and so
# is every hook of a directory that another user could change. A link
# counts as the link and as what it leads to.
case_exec_scripts_unsafe() {
    sandbox
    local hooks=$ROOT/etc/kirta-update-service/hooks record=$S/record name
    mkdir -p "$hooks/0-1.d" "$hooks/1-1.d" "$S/elsewhere"
    for name in 0-1.d/10-group 0-1.d/20-others 0-1.d/30-foreign 0-1.d/40-good 1-1.d/10-good; do
        printf '#!/bin/sh\necho "%s" >>"%s"\n' "$name" "$record" >"$hooks/$name"
        chmod 0755 "$hooks/$name"
    done
    printf '#!/bin/sh\necho "linked" >>"%s"\n' "$record" >"$S/elsewhere/hook"
    chmod 0755 "$S/elsewhere/hook"
    ln -s "$S/elsewhere/hook" "$hooks/0-1.d/50-own-link"
    ln -s "$S/elsewhere/hook" "$hooks/0-1.d/60-foreign-link"
    ln -s "$hooks/0-1.d/20-others" "$hooks/0-1.d/70-link-to-others"
    chmod g+w "$hooks/0-1.d/10-group"
    chmod o+w "$hooks/0-1.d/20-others"
    chmod g+w "$hooks/1-1.d"
    local want
    want=$(printf '%s\n' 0-1.d/40-good linked)
    if [ "$(id -u)" -eq 0 ]; then
        chown nobody "$hooks/0-1.d/30-foreign"
        chown -h nobody "$hooks/0-1.d/60-foreign-link"
    else
        want=$(printf '%s\n' 0-1.d/30-foreign 0-1.d/40-good linked linked)
    fi
    run "$SERVICE" exec_scripts 0 1
    expect_rc 0 "exec_scripts with refused hooks"
    run "$SERVICE" exec_scripts 1 1
    expect_rc 0 "exec_scripts in a group-writable directory"
    [ "$(cat "$record" 2>/dev/null)" = "$want" ] ||
        fail "hooks ran: $(tr '\n' ',' 2>/dev/null <"$record"), expected $(tr '\n' ',' <<<"$want")"
    expect_text "refusing hook $hooks/1-1.d/10-good" "$(cat "$S/stderr")"
}

# The daemon finds a running stage program with ps under the name cut to
# 15 characters.
case_process_name() {
    sandbox
    local hooks=$ROOT/etc/kirta-update-service/hooks/0-0.d
    mkfifo "$S/started" "$S/go"
    mkdir -p "$hooks"
    printf '#!/bin/sh\necho started >"%s"\nread -r _ <"%s"\n' "$S/started" "$S/go" >"$hooks/10-wait"
    chmod +x "$hooks/10-wait"
    "$SERVICE" exec_scripts 0 0 2>>"$S/stderr" &
    local pid=$!
    exec 3<>"$S/started" 4<>"$S/go"
    if read -r -t 20 _ <&3; then
        local shown
        shown=$(ps --no-headers -p "$pid")
        expect_text kirta-update-se "$shown"
    else
        fail "the hook did not start"
    fi
    echo go >&4
    wait "$pid"
}

case_free_space_enough() {
    sandbox
    source_line good >"$S/apt/sources.list"
    run "$SERVICE" update 0
    run "$SERVICE" is_enough_free_space 0
    expect_rc 1 "is_enough_free_space with room"
    run "$SERVICE" download 0
    run "$SERVICE" is_enough_free_space 0
    expect_rc 1 "is_enough_free_space after the download"
    echo 'this is not a sources line' >"$S/apt/sources.list"
    run "$SERVICE" is_enough_free_space 0
    expect_rc 2 "is_enough_free_space when apt fails"
}

# A tiny archive directory filled to the brim.
case_free_space_full_archives() {
    need_root_mounts
    sandbox
    source_line good >"$S/apt/sources.list"
    run "$SERVICE" update 0
    local archives=$ROOT/var/cache/apt/archives
    # shellcheck disable=SC2016 # expanded by the inner shell
    run unshare -m bash -c '
        mount -t tmpfs -o size=64k tmpfs "$1" || exit 90
        mkdir -p "$1/partial"
        dd if=/dev/zero of="$1/filler" bs=4k 2>/dev/null
        "$2" is_enough_free_space 0' _ "$archives" "$SERVICE"
    expect_rc 0 "is_enough_free_space with a full archive directory"
}

# The unpacked upgrade (2 MB) does not fit a 1 MB root that also holds the
# archive directory.
case_free_space_small_root() {
    need_root_mounts
    sandbox
    source_line good >"$S/apt/sources.list"
    run "$SERVICE" update 0
    local saved=$S/root-saved
    cp -a "$ROOT" "$saved"
    # shellcheck disable=SC2016 # expanded by the inner shell
    run unshare -m bash -c '
        mount -t tmpfs -o size=1m tmpfs "$1" || exit 90
        cp -a "$3/." "$1/"
        "$2" is_enough_free_space 0' _ "$ROOT" "$SERVICE" "$saved"
    expect_rc 0 "is_enough_free_space with a small root"
}

case_fs_type() {
    sandbox
    local device
    device=$(stat -c '%Hd:%Ld' "$ROOT/")
    run "$SERVICE" get_fs_type
    expect_rc 0 "get_fs_type without device-mapper information"
    mkdir -p "$ROOT/sys/dev/block/$device/dm"
    echo "LVM-Kx1Tz5rW3bq0uNcvqnAmo2y8Fc2sPlQg" >"$ROOT/sys/dev/block/$device/dm/uuid"
    run "$SERVICE" get_fs_type
    expect_rc 1 "get_fs_type on an LVM volume"
    echo "CRYPT-LUKS2-0a1b2c-root" >"$ROOT/sys/dev/block/$device/dm/uuid"
    run "$SERVICE" get_fs_type
    expect_rc 0 "get_fs_type on another device-mapper target"
}

install_snapshot_manager() {
    local manager=$ROOT/usr/sbin/kirta-snapshots-manager
    mkdir -p "${manager%/*}"
    # shellcheck disable=SC2016 # the manager's own expansions
    printf '#!/bin/sh\necho "$*" >>"%s"\nexit $(cat "%s" 2>/dev/null || echo 0)\n' \
        "$S/manager.calls" "$S/manager.exit" >"$manager"
    chmod +x "$manager"
}

case_snapshot_without_manager() {
    sandbox
    local word
    for word in snapshot_manager_installed automatization_enabled rollback rm_snapshot; do
        run "$SERVICE" "$word"
        expect_rc 0 "$word without the snapshot manager"
    done
    expect_text "is not installed" "$(cat "$S/stderr")"
}

case_snapshot_with_manager() {
    sandbox
    install_snapshot_manager
    local state=$ROOT/var/cache/kirta-update-service
    run "$SERVICE" snapshot_manager_installed
    expect_rc 1 "snapshot_manager_installed"
    run "$SERVICE" automatization_enabled
    expect_rc 1 "automatization_enabled, manager says on"
    echo 1 >"$S/manager.exit"
    run "$SERVICE" automatization_enabled
    expect_rc 0 "automatization_enabled, manager says off"

    : >"$state/unsuccessful"
    echo 3 >"$S/manager.exit"
    run "$SERVICE" rollback
    expect_rc 3 "rollback, manager fails"
    echo 0 >"$S/manager.exit"
    run "$SERVICE" rollback
    expect_rc 0 "rollback, retried"
    run "$SERVICE" rollback
    expect_rc 0 "rollback, once more"

    rm -f "$state/unsuccessful"
    : >"$state/successful"
    run "$SERVICE" rm_snapshot
    expect_rc 0 "rm_snapshot"
    run "$SERVICE" rm_snapshot
    expect_rc 0 "rm_snapshot, once more"
    local want
    want=$(printf '%s\n' -s -s -b -b -d)
    [ "$(cat "$S/manager.calls")" = "$want" ] ||
        fail "manager calls: $(tr '\n' ' ' <"$S/manager.calls"), expected $(tr '\n' ' ' <<<"$want")"
}

case_unknown_word() {
    sandbox
    run "$SERVICE" frobnicate
    expect_rc 2 "unknown stage word"
    run "$SERVICE"
    expect_rc 2 "no stage word"
}

# --- cases: imitation -------------------------------------------------------

# The main list offers a good upgrade, the sources parts directory one with a
# dependency that no repository has.
imitation_sandbox() {
    sandbox
    source_line good >"$S/apt/sources.list"
    source_line broken >"$S/apt/sources.list.d/broken.list"
    run "$SERVICE" update 1
}

case_imitation() {
    imitation_sandbox
    local plan=$ROOT/var/cache/kirta-update-service/upgrade.plan
    run "$MODERN" -n -A -o "Dir::Etc::sourceparts=''"
    expect_rc 0 "imitation without the broken repository"
    [ "$(cat "$plan" 2>/dev/null)" = "hello-kirta 2.0" ] ||
        fail "plan: '$(cat "$plan" 2>/dev/null)', expected 'hello-kirta 2.0'"
    run "$MODERN" -n -A -o "Dir::Etc::sourceparts=''" -S
    expect_rc 0 "imitation with -S"
    run "$MODERN" -n -A -T -r
    expect_rc 1 "imitation with the broken repository"
    expect_text "kirta-missing" "$out"
    expect_no_file "$plan"
    run "$MODERN" -n -A -T -r -S
    expect_rc 1 "imitation with the broken repository and -S"
    run "$MODERN" -n -A -o "Dir::Etc::sourceparts=$S/apt/sources.list.d" -o "Dir::Etc::sourcelist=''"
    expect_rc 1 "imitation with the broken repository only"
    run "$MODERN" -n -A -x
    expect_rc 2 "imitation with an unknown option"
}

case_imitation_held_package() {
    imitation_sandbox
    # Held on purpose: kept back without blame.
    sed -i '/^Package: kirta-broken$/{n;s/^Status: install /Status: hold /}' "$ROOT/var/lib/dpkg/status"
    grep -q '^Status: hold ' "$ROOT/var/lib/dpkg/status" || fail "fixture: no package held"
    run "$MODERN" -n -A -T -r
    expect_rc 0 "imitation with the broken package held"
    expect_text "Inst hello-kirta" "$out"
}

# Upgrading hello-kirta takes a package away that depends on the old one.
add_dependent_package() {
    : >"$ROOT/var/lib/dpkg/info/kirta-legacy.list"
    aptsandbox_status_entry kirta-legacy 1.0 'Depends: hello-kirta (<< 2.0)' >>"$ROOT/var/lib/dpkg/status"
}

case_imitation_refuses_removal() {
    imitation_sandbox
    add_dependent_package
    run "$MODERN" -n -A -o "Dir::Etc::sourceparts=''"
    expect_rc 1 "imitation of an upgrade that removes a package"
    expect_text "removes packages: kirta-legacy" "$out"
    expect_no_file "$ROOT/var/cache/kirta-update-service/upgrade.plan"
}

case_imitation_full_archives() {
    need_root_mounts
    imitation_sandbox
    local archives=$ROOT/var/cache/apt/archives opts="Dir::Etc::sourceparts=''"
    # shellcheck disable=SC2016 # expanded by the inner shell
    run unshare -m bash -c '
        mount -t tmpfs -o size=64k tmpfs "$1" || exit 90
        mkdir -p "$1/partial"
        dd if=/dev/zero of="$1/filler" bs=4k 2>/dev/null
        "$2" -n -A -o "$3"; echo "exit $?"
        "$2" -n -A -o "$3" -S; echo "exit $?"' _ "$archives" "$MODERN" "$opts"
    expect_rc 0 "imitations in a mount namespace"
    expect_text "not enough free space" "$out"
    [ "$(grep '^exit ' <<<"$out" | tr '\n' ' ')" = "exit 1 exit 0 " ] ||
        fail "imitation exits with a full archive directory: $(grep '^exit ' <<<"$out" | tr '\n' ' '), expected 1 then 0 (-S)"
}

# --- cases: offline upgrade -------------------------------------------------

offline_env() {
    export KIRTA_REBOOT_COMMAND="echo reboot >>'$S/reboots'"
}

installed_version() {
    aptsandbox_installed_version "$ROOT" "$1"
}

case_offline_nothing_to_do() {
    sandbox
    offline_env
    local state=$ROOT/var/cache/kirta-update-service
    run "$OFFLINE"
    expect_rc 0 "offline upgrade without a link"
    mkdir -p "$S/elsewhere"
    ln -s "$S/elsewhere" "$ROOT/system-update"
    run "$OFFLINE"
    expect_rc 0 "offline upgrade with another updater's link"
    [ -L "$ROOT/system-update" ] || fail "another updater's link was removed"
    expect_no_file "$state/unsuccessful"
    expect_no_file "$state/successful"
    expect_no_file "$S/reboots"
}

# Armed as the daemon arms: downloaded, rehearsed, linked.
armed_sandbox() {
    sandbox
    offline_env
    source_line good >"$S/apt/sources.list"
    local state=$ROOT/var/cache/kirta-update-service
    printf '0' >"$state/repos_policy"
    run "$SERVICE" update
    run "$SERVICE" download
    expect_rc 0 "download"
    run "$MODERN" -n -A -o "Dir::Etc::sourceparts=''"
    expect_rc 0 "imitation"
    ln -s "$ROOT/var/cache/apt/archives" "$ROOT/system-update"
    : >"$state/upgradable"
}

case_offline_success() {
    armed_sandbox
    local state=$ROOT/var/cache/kirta-update-service
    : >"$state/successful"
    # Installed as a dependency: installing it by name must not change that.
    apt-mark auto hello-kirta >/dev/null
    # Takes the network away: the upgrade must use the downloaded files.
    mv "$REPOS/good/hello-kirta_2.0_all.deb" "$WORK/hidden.deb"
    run "$OFFLINE"
    mv "$WORK/hidden.deb" "$REPOS/good/hello-kirta_2.0_all.deb"
    expect_rc 0 "offline upgrade"
    expect_no_file "$ROOT/system-update"
    expect_no_file "$state/upgradable"
    expect_no_file "$state/unsuccessful"
    expect_file "$state/successful"
    expect_no_file "$state/upgrade.plan"
    [ "$(installed_version hello-kirta)" = 2.0 ] ||
        fail "hello-kirta is at '$(installed_version hello-kirta)', expected 2.0"
    [ "$(cat "$ROOT/usr/share/hello-kirta/version")" = 2.0 ] || fail "files of 2.0 not unpacked"
    [ "$(apt-mark showauto)" = hello-kirta ] || fail "automatic packages now: '$(apt-mark showauto)'"
    [ "$(cat "$ROOT/etc/hello-kirta.conf")" = "setting=mine" ] ||
        fail "the administrator's configuration was replaced"
    [ "$(cat "$S/reboots" 2>/dev/null)" = reboot ] || fail "reboot not called exactly once"
}

case_offline_failure() {
    sandbox
    offline_env
    source_line good >"$S/apt/sources.list"
    local state=$ROOT/var/cache/kirta-update-service
    run "$SERVICE" update 0
    # Armed, but nothing was downloaded or rehearsed: there is no plan.
    ln -s "$ROOT/var/cache/apt/archives" "$ROOT/system-update"
    : >"$state/successful"
    run "$OFFLINE"
    [ "$rc" -ne 0 ] || fail "failed offline upgrade exited 0"
    expect_text "no rehearsed plan" "$(cat "$S/stderr")"
    expect_no_file "$ROOT/system-update"
    expect_file "$state/unsuccessful"
    expect_no_file "$state/successful"
    [ "$(installed_version hello-kirta)" = 1.0 ] || fail "hello-kirta changed"
    [ "$(cat "$S/reboots" 2>/dev/null)" = reboot ] || fail "reboot not called exactly once"
}

# Whatever changed after arming, the boot installs exactly the rehearsed
# plan or nothing at all.
case_offline_plan_drift() {
    local row drift want
    #   drift            expected exit
    for row in "newer-alongside 0" "newer-only 1" "dependent 1" "archive-gone 1" \
        "bad-plan 1" "installed-since 1"; do
        read -r drift want <<<"$row"
        armed_sandbox >/dev/null
        local state=$ROOT/var/cache/kirta-update-service
        case "$drift" in
            newer-alongside | newer-only)
                [ "$drift" = newer-only ] && : >"$S/apt/sources.list"
                source_line newer >"$S/apt/sources.list.d/newer.list"
                run "$SERVICE" update 1
                ;;
            dependent) add_dependent_package ;;
            archive-gone) rm -f "$ROOT/var/cache/apt/archives/hello-kirta_2.0_all.deb" ;;
            bad-plan) echo "-oAPT::Get::Remove=true 1" >>"$state/upgrade.plan" ;;
            # As if the administrator had installed a planned version by hand.
            installed-since) echo "kirta-broken 1.0" >>"$state/upgrade.plan" ;;
        esac
        run "$OFFLINE"
        expect_rc "$want" "offline upgrade after $drift"
        local version=1.0 stamp=unsuccessful
        [ "$want" -eq 0 ] && version=2.0 stamp=successful
        [ "$(installed_version hello-kirta)" = "$version" ] ||
            fail "$drift: hello-kirta is at '$(installed_version hello-kirta)', expected $version"
        expect_file "$state/$stamp"
        expect_no_file "$ROOT/system-update"
        expect_no_file "$state/upgrade.plan"
        [ "$(cat "$S/reboots" 2>/dev/null)" = reboot ] || fail "$drift: reboot not called exactly once"
        if [ "$drift" = dependent ] && [ -z "$(installed_version kirta-legacy)" ]; then
            fail "dependent: kirta-legacy was removed"
        fi
    done
}

# A maintainer script that fails or hangs during the boot upgrade: dpkg's
# state is repaired before the reboot, the result stays a failure. A power
# cut after unpacking ("cut") leaves the mark file, and the repair unit of
# the next, normal boot finishes the installation.
case_offline_repair() {
    local fault
    for fault in fail hang cut; do
        sandbox >/dev/null
        offline_env
        aptsandbox_install "$ROOT" kirta-fragile 1.0 no no
        source_line fragile >"$S/apt/sources.list"
        # Maintainer scripts run outside the sandbox root, which has no shell.
        echo 'DPkg::Options:: "--force-script-chrootless";' >>"$APT_CONFIG"
        local state=$ROOT/var/cache/kirta-update-service
        if [ "$fault" = cut ]; then
            aptsandbox_dpkg "$ROOT" --force-script-chrootless --unpack \
                "$REPOS/fragile/kirta-fragile_2.0_all.deb" >>"$S/stderr" 2>&1
            : >"$state/installing"
            run "$OFFLINE" --repair
            expect_rc 0 "repair of a broken-off upgrade"
            expect_no_file "$S/reboots"
        else
            printf '0' >"$state/repos_policy"
            run "$SERVICE" update
            run "$SERVICE" download
            run "$MODERN" -n -A -o "Dir::Etc::sourceparts=''"
            ln -s "$ROOT/var/cache/apt/archives" "$ROOT/system-update"
            echo "$fault" >"$ROOT/fault"
            KIRTA_UPGRADE_TIMEOUT=3 run "$OFFLINE"
            [ "$rc" -ne 0 ] || fail "$fault: offline upgrade exited 0"
            expect_file "$state/unsuccessful"
            [ "$(cat "$S/reboots" 2>/dev/null)" = reboot ] || fail "$fault: reboot not called exactly once"
            [ "$fault" = fail ] || expect_text "did not finish within 3s" "$(cat "$S/stderr")"
        fi
        local status
        status=$(dpkg-query --admindir="$ROOT/var/lib/dpkg" -W -f='${Status} ${Version}' kirta-fragile)
        [ "$status" = "install ok installed 2.0" ] || fail "$fault: kirta-fragile left as '$status'"
        expect_no_file "$state/installing"
    done
}

# A link that cannot be removed (read-only root): no upgrade and no reboot
# back into it, but on to the administrator's default target, or the
# emergency shell when that fails.
case_offline_link_stays() {
    need_root_mounts
    armed_sandbox
    mkdir -p "$ROOT/etc/systemd/system" "$S/bin"
    ln -s /lib/systemd/system/graphical.target "$ROOT/etc/systemd/system/default.target"
    # shellcheck disable=SC2016 # the stand-in's own expansions
    printf '#!/bin/sh\necho "$*" >>"%s"\nexit $(cat "%s" 2>/dev/null || echo 0)\n' \
        "$S/systemctl.calls" "$S/systemctl.exit" >"$S/bin/systemctl"
    chmod +x "$S/bin/systemctl"
    # shellcheck disable=SC2016 # expanded by the inner shell
    KIRTA_SYSTEMCTL=$S/bin/systemctl run unshare -m bash -c '
        mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" || exit 90
        "$2"; echo "exit $?"
        echo 1 >"$3"
        "$2"; echo "exit $?"' _ "$ROOT" "$OFFLINE" "$S/systemctl.exit"
    [ "$(grep '^exit ' <<<"$out" | tr '\n' ' ')" = "exit 0 exit 0 " ] ||
        fail "exits: $(grep '^exit ' <<<"$out" | tr '\n' ' '), expected 0 twice (the unit reboots on failure)"
    local want
    want=$(printf '%s\n' "--no-block isolate graphical.target" \
        "--no-block isolate graphical.target" "--no-block isolate emergency.target")
    [ "$(cat "$S/systemctl.calls" 2>/dev/null)" = "$want" ] ||
        fail "systemctl calls: $(tr '\n' ',' 2>/dev/null <"$S/systemctl.calls"), expected $(tr '\n' ',' <<<"$want")"
    expect_no_file "$S/reboots"
    [ -L "$ROOT/system-update" ] || fail "the link went away on a read-only root"
    [ "$(installed_version hello-kirta)" = 1.0 ] || fail "hello-kirta changed"
    expect_text "cannot remove $ROOT/system-update" "$(cat "$S/stderr")"
}

# A crash of apt itself while installing: the link is already gone, the
# failure stamp stays.
case_offline_crash() {
    armed_sandbox
    local state=$ROOT/var/cache/kirta-update-service
    mkdir -p "$S/bin"
    # shellcheck disable=SC2016 # the stand-in's own expansions
    printf '#!/bin/sh\ncase " $* " in *" -s "* | *" --print-uris "*) exec %s "$@" ;; esac\nkill -SEGV $$\n' \
        "$(command -v apt-get)" >"$S/bin/apt-get"
    chmod +x "$S/bin/apt-get"
    PATH=$S/bin:$PATH run "$OFFLINE"
    [ "$rc" -ne 0 ] || fail "offline upgrade with a crashing apt exited 0"
    expect_text "dpkg --configure -a finished" "$(cat "$S/stderr")"
    expect_no_file "$ROOT/system-update"
    expect_file "$state/unsuccessful"
    expect_no_file "$state/successful"
    [ "$(cat "$S/reboots" 2>/dev/null)" = reboot ] || fail "reboot not called exactly once"
}

# power_supply NAME TYPE KEY=VALUE...: one supply of the fake class tree.
power_supply() {
    local dir=$S/power_supply/$1 pair
    mkdir -p "$dir"
    printf '%s\n' "$2" >"$dir/type"
    shift 2
    for pair in "$@"; do
        printf '%s\n' "${pair#*=}" >"$dir/${pair%%=*}"
    done
}

# A stand-in systemctl that records its calls.
systemctl_standin() {
    mkdir -p "$S/bin"
    # shellcheck disable=SC2016 # the stand-in's own expansions
    printf '#!/bin/sh\necho "$*" >>"%s"\n' "$S/systemctl.calls" >"$S/bin/systemctl"
    chmod +x "$S/bin/systemctl"
    export KIRTA_SYSTEMCTL=$S/bin/systemctl KIRTA_POWER_SUPPLY_DIR=$S/power_supply
}

# On a low battery the boot installs nothing and boots on without a second
# update boot; once on mains power, the same armed upgrade installs.
case_offline_battery_low() {
    armed_sandbox
    systemctl_standin
    local state=$ROOT/var/cache/kirta-update-service
    power_supply BAT0 Battery status=Discharging capacity=12
    power_supply AC Mains online=0
    # A wireless mouse's empty battery does not feed the machine.
    power_supply hid-mouse Battery status=Discharging capacity=3 scope=Device
    run "$OFFLINE"
    expect_rc 0 "offline upgrade on battery"
    expect_no_file "$ROOT/system-update"
    expect_no_file "$S/reboots"
    expect_no_file "$state/upgrade_ran"
    expect_no_file "$state/unsuccessful"
    expect_file "$state/upgradable"
    expect_file "$state/upgrade.plan"
    [ "$(installed_version hello-kirta)" = 1.0 ] || fail "hello-kirta changed on battery"
    [ "$(cat "$state/postponed_for_power" 2>/dev/null)" = \
        "battery BAT0 at 12 % (below 20 %), no mains power" ] ||
        fail "power mark: '$(cat "$state/postponed_for_power" 2>/dev/null)'"
    [ "$(cat "$S/systemctl.calls" 2>/dev/null)" = "--no-block isolate multi-user.target" ] ||
        fail "systemctl calls: $(cat "$S/systemctl.calls" 2>/dev/null)"

    # Armed again by the daemon, now on mains power.
    ln -s "$ROOT/var/cache/apt/archives" "$ROOT/system-update"
    power_supply AC Mains online=1
    run "$OFFLINE"
    expect_rc 0 "offline upgrade on mains power"
    [ "$(installed_version hello-kirta)" = 2.0 ] || fail "hello-kirta not upgraded on mains power"
    expect_file "$state/upgrade_ran"
    expect_file "$state/successful"
    expect_no_file "$state/postponed_for_power"
    [ "$(cat "$S/reboots" 2>/dev/null)" = reboot ] || fail "reboot not called exactly once"
}

# Which power states postpone. Armed without a plan, so that a run that goes
# ahead ends quickly in "no rehearsed plan" and a reboot.
case_offline_power_states() {
    local name config supplies want
    sandbox
    offline_env
    systemctl_standin
    local state=$ROOT/var/cache/kirta-update-service
    while IFS='|' read -r name config supplies want; do
        rm -rf "$S/power_supply" "$S/reboots" "$state/postponed_for_power" "$state/upgrade_ran"
        ln -s "$ROOT/var/cache/apt/archives" "$ROOT/system-update"
        printf '%b' "$config" >"$ROOT/etc/kirta-update-service/kirta-update-daemon.conf"
        local supply
        # shellcheck disable=SC2086 # a list of supply descriptions
        for supply in $supplies; do
            # shellcheck disable=SC2046 # NAME TYPE KEY=VALUE words
            power_supply $(tr ',' ' ' <<<"$supply")
        done
        run "$OFFLINE"
        local got=install
        [ -e "$state/postponed_for_power" ] && got=postpone
        [ "$got" = "$want" ] || fail "$name: $got, expected $want"
        if [ "$want" = install ]; then
            expect_file "$state/upgrade_ran"
            [ "$(cat "$S/reboots" 2>/dev/null)" = reboot ] || fail "$name: no reboot"
        else
            expect_no_file "$S/reboots"
        fi
    done <<'EOF_TABLE'
no supply at all|||install
battery low, no mains||BAT0,Battery,status=Discharging,capacity=19|postpone
battery low, mains online||BAT0,Battery,status=Discharging,capacity=5 AC,Mains,online=1|install
battery low, USB-C supply online||BAT0,Battery,status=Discharging,capacity=5 ucsi,USB,online=1|install
battery at the threshold||BAT0,Battery,status=Discharging,capacity=20|install
battery low but charging||BAT0,Battery,status=Charging,capacity=5|install
second battery low||BAT0,Battery,status=Discharging,capacity=90 BAT1,Battery,status=Discharging,capacity=4|postpone
level unknown||BAT0,Battery,status=Discharging,capacity=|install
threshold raised|Battery_min_percent = 50\n|BAT0,Battery,status=Discharging,capacity=40|postpone
threshold 0 never postpones|Battery_min_percent=0\n|BAT0,Battery,status=Discharging,capacity=1|install
threshold not a number|Battery_min_percent=lots\n|BAT0,Battery,status=Discharging,capacity=15|postpone
EOF_TABLE
}

# --- case: installation -----------------------------------------------------

case_install() {
    local build=${KIRTA_OUTSIDE_BUILD_DIR:-}
    if [ -z "$build" ] || [ ! -f "$build/cmake_install.cmake" ]; then
        echo "no build directory of outside/"
        exit 77
    fi
    sandbox
    local dest=$S/dest prefix=$KIRTA_INSTALL_PREFIX
    local i
    for i in 1 2; do
        DESTDIR=$dest cmake -P "$build/cmake_install.cmake" >>"$S/stderr" 2>&1 ||
            fail "install run $i failed"
    done
    local program
    for program in "$KIRTA_INSTALL_SBINDIR/kirta-update-service" \
        "$KIRTA_INSTALL_BINDIR/kirta-update-modern" \
        "$KIRTA_INSTALL_LIBEXECDIR/kirta-offline-upgrade"; do
        [ -x "$dest$prefix/$program" ] || fail "not installed as a program: $prefix/$program"
    done
    local unit=$dest$prefix/lib/systemd/system/kirta-offline-upgrade.service
    local wants=$dest$prefix/lib/systemd/system/system-update.target.wants/kirta-offline-upgrade.service
    expect_file "$unit"
    grep -qx "ExecStart=$prefix/$KIRTA_INSTALL_LIBEXECDIR/kirta-offline-upgrade" "$unit" 2>/dev/null ||
        fail "ExecStart does not name the installed program"
    # The unit's bound must leave the program time for its own bounds
    # (installation and repair, each with its grace to SIGKILL).
    local bound own
    bound=$(sed -n 's/^TimeoutStartSec=\([0-9]*\)$/\1/p' "$unit" 2>/dev/null)
    # shellcheck disable=SC2016 # the program's text, not an expansion
    own=$(sed -n 's/^\(UPGRADE\|REPAIR\)_TIMEOUT=${KIRTA_[A-Z]*_TIMEOUT:-\([0-9]*\)}$/\2/p' "$OFFLINE" |
        awk '{ s += $1 + 60 } END { print s + 0 }')
    if [ -z "$bound" ] || [ "$own" -le 120 ] || [ "$bound" -le "$own" ]; then
        fail "TimeoutStartSec '$bound' is not a number of seconds above the program's bounds ($own s)"
    fi
    if [ ! -L "$wants" ] || [ "$(readlink -f "$wants")" != "$(readlink -f "$unit")" ]; then
        fail "system-update.target.wants link missing or wrong"
    fi
    local repair=$dest$prefix/lib/systemd/system/kirta-offline-upgrade-repair.service
    grep -qx "ExecStart=$prefix/$KIRTA_INSTALL_LIBEXECDIR/kirta-offline-upgrade --repair" "$repair" 2>/dev/null ||
        fail "the repair unit does not run the installed program with --repair"
    [ "$(readlink -f "$dest$prefix/lib/systemd/system/multi-user.target.wants/${repair##*/}")" = "$(readlink -f "$repair")" ] ||
        fail "multi-user.target.wants link to the repair unit missing or wrong"
}

# --- main -------------------------------------------------------------------

build_repos || {
    echo "cannot build the test repositories"
    exit 1
}

run_case update_policies case_update_policies
run_case update_nothing_to_upgrade case_update_nothing_to_upgrade
run_case download_downresult_clean case_download_downresult_clean
run_case download_failure case_download_failure
run_case exec_scripts_order case_exec_scripts_order
run_case exec_scripts_unsafe case_exec_scripts_unsafe
run_case process_name case_process_name
run_case free_space_enough case_free_space_enough
run_case free_space_full_archives case_free_space_full_archives
run_case free_space_small_root case_free_space_small_root
run_case fs_type case_fs_type
run_case snapshot_without_manager case_snapshot_without_manager
run_case snapshot_with_manager case_snapshot_with_manager
run_case unknown_word case_unknown_word
run_case imitation case_imitation
run_case imitation_held_package case_imitation_held_package
run_case imitation_refuses_removal case_imitation_refuses_removal
run_case imitation_full_archives case_imitation_full_archives
run_case offline_nothing_to_do case_offline_nothing_to_do
run_case offline_success case_offline_success
run_case offline_failure case_offline_failure
run_case offline_plan_drift case_offline_plan_drift
run_case offline_repair case_offline_repair
run_case offline_crash case_offline_crash
run_case offline_link_stays case_offline_link_stays
run_case offline_battery_low case_offline_battery_low
run_case offline_power_states case_offline_power_states
run_case install case_install

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
