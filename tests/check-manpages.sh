#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.
# Checks the built manual pages: each renders without a single groff
# warning, and the configuration page documents every key the daemon's
# parameter store reads (taken from the code, so a key added there and not
# here fails).
#
# Usage: check-manpages.sh SOURCE_DIR MAN_BUILD_DIR PAGE...
set -euo pipefail

source_dir=$1
build_dir=$2
shift 2

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

for page in "$@"; do
    built=$build_dir/$page
    if [ ! -s "$built" ]; then
        fail "$page was not built"
        continue
    fi
    if LC_ALL=C grep -nP '[^\x00-\x7F]' "$source_dir/man/$page.scd"; then
        fail "$page.scd: characters outside ASCII (roff needs escapes for them)"
    fi
    # -ww: every warning; -z: no output but the diagnostics; -t: tables.
    if ! warnings=$(groff -k -t -ww -z -man "$built" 2>&1) || [ -n "$warnings" ]; then
        fail "$page: groff warns:"
        printf '%s\n' "$warnings"
    fi
    if ! grep -q '^\.SH NAME' "$built"; then
        fail "$page: no NAME section (apropos and lintian need it)"
    fi
done

# The keys: every name in the table of keys, and every key constant of the
# shared vocabulary spelt out there (the accepted old spellings).
keys_source=$source_dir/platform/settingskeys.cpp
table_source=$source_dir/platform/configkeys.cpp
declare -A keys=()
while read -r constant name; do
    keys[$name]=1
    echo "key $name ($constant)"
done < <(sed -nE 's/^const QString (KEY_[A-Z0-9_]+) = QStringLiteral\("([^"]+)"\);.*/\1 \2/p' "$keys_source")
while read -r name; do
    keys[$name]=1
    echo "table key $name"
done < <(sed -nE 's/^ *(number|flag|text|date)Key\("([A-Za-z0-9_]+)".*/\2/p' "$table_source")

if [ "${#keys[@]}" -lt 10 ]; then
    fail "found only ${#keys[@]} keys in the code; the way keys are declared changed"
fi
conf_page=$source_dir/man/kirta-update-daemon.conf.5.scd
for name in "${!keys[@]}"; do
    # A key's entry starts a line: "*Name*=...", possibly after another key
    # of the same entry ("*T_download_min*=_minutes_, *T_download_max*=...").
    if ! grep -qE "^(\*[A-Za-z0-9_]+\*=[^ ]*, )*\*$name\*=" "$conf_page"; then
        fail "kirta-update-daemon.conf(5) does not document the key $name"
    fi
done

if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "PASS: $# pages, ${#keys[@]} keys"
