#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.
# The polkit action file: valid against polkit's DTD, and the defaults that
# desktop users get: arm, clear the result and postpone the automatic
# restart in an active local session,
# disarm only with an administrator's password, nothing elsewhere.
set -euo pipefail

policy=$1
dtd=${POLKIT_DTD:-/usr/share/polkit-1/policyconfig-1.dtd}
xmllint --noout --dtdvalid "$dtd" "$policy"

status=0
expect() {
    local action=$1 any=$2 inactive=$3 active=$4 got
    got=$(for key in allow_any allow_inactive allow_active; do
        xmllint --xpath "string(//action[@id='os.kirtalinux.zun.kirtaupdateservice.$action']/defaults/$key)" "$policy"
    done | paste -sd' ')
    if [ "$got" != "$any $inactive $active" ]; then
        echo "$action: defaults are '$got', expected '$any $inactive $active'" >&2
        status=1
    fi
}
expect arm no no yes
expect disarm no no auth_admin_keep
expect clear-result no no yes
expect postpone-restart no no yes
[ "$(xmllint --xpath 'count(//action)' "$policy")" = 4 ] || {
    echo "expected exactly four actions" >&2
    status=1
}
exit "$status"
