#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.
# The daemon package's prerm: removing (or purging) the package while an
# upgrade is armed disarms it, only where the daemon's own link is; any
# other call, and any other /system-update, leaves everything alone.
set -u

prerm=${1:?prerm script}
work=$(mktemp -d /tmp/kirta-prerm.XXXXXX) || exit 1
trap 'rm -rf "$work"' EXIT
failed=0

# expect NAME ARGUMENT SYSTEM_UPDATE KEPT: SYSTEM_UPDATE is "link:TARGET",
# "dir" or "none"; KEPT "yes" when the armed state must stay.
expect() {
    local name=$1 argument=$2 what=$3 kept=$4
    local root=$work/$name
    local state=$root/var/cache/kirta-update-service
    mkdir -p "$state" "$root/var/cache/apt/archives"
    : >"$state/upgradable"
    echo "T_check=60" >"$state/kirta-update-daemon.conf"
    echo "status=activated" >"$state/status"
    case $what in
        link:*) ln -s "${what#link:}" "$root/system-update" ;;
        dir) mkdir "$root/system-update" ;;
    esac
    if ! DPKG_ROOT=$root sh "$prerm" "$argument" >"$work/$name.out" 2>&1; then
        echo "FAIL $name: prerm $argument failed: $(cat "$work/$name.out")"
        failed=1
        return
    fi
    local left=""
    [ -e "$root/system-update" ] || [ -L "$root/system-update" ] && left+=" system-update"
    local file
    for file in upgradable kirta-update-daemon.conf status; do
        [ -e "$state/$file" ] && left+=" $file"
    done
    local want=" system-update upgradable kirta-update-daemon.conf status"
    [ "$what" = none ] && want=" upgradable kirta-update-daemon.conf status"
    [ "$kept" = yes ] || want=""
    if [ "$left" != "$want" ]; then
        echo "FAIL $name: left [$left ], expected [$want ]"
        failed=1
    else
        echo "PASS $name"
    fi
}

expect remove-armed remove link:/var/cache/apt/archives no
expect upgrade-armed upgrade link:/var/cache/apt/archives yes
expect failed-upgrade-armed failed-upgrade link:/var/cache/apt/archives yes
expect deconfigure-armed deconfigure link:/var/cache/apt/archives yes
expect remove-foreign-link remove link:/var/lib/other-upgrade yes
expect remove-relative-link remove link:var/cache/apt/archives yes
expect remove-directory remove dir yes
expect remove-nothing-armed remove none yes
exit "$failed"
