# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.
# shellcheck shell=bash
# A dbus-daemon of the caller's own that serves as the system bus, with a
# permissive policy: for the main job and the bench.
#
# A unix socket's path may hold at most 107 bytes, and a checkout under a
# home directory or a build tree of a test easily passes that. So the bus
# listens in a fresh directory under /tmp, whatever the caller's own
# directories are; its configuration, address and standard error stay in
# the caller's directory.
#
# Source it from bash. The caller calls privatebus_stop on every way out (an
# EXIT trap, with INT and TERM turned into an exit).

# Read by the caller.
# shellcheck disable=SC2034
privatebus_pid=
privatebus_socket_dir=
privatebus_address=

# privatebus_start STATE_DIR [TIMEOUT_SECONDS]
# Starts the bus; STATE_DIR gets bus.conf, address and stderr. On success
# sets privatebus_address (and privatebus_pid, privatebus_socket_dir). On
# failure prints why to standard error (dbus-daemon's own words when it
# said any) and returns 1; privatebus_stop still cleans up.
privatebus_start() {
    local state=$1 timeout=${2:-10}
    mkdir -p "$state" || return 1
    privatebus_socket_dir=$(mktemp -d /tmp/kirta-bus.XXXXXX) || {
        echo "private bus: cannot make a socket directory under /tmp" >&2
        return 1
    }
    cat >"$state/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:dir=$privatebus_socket_dir</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
    <allow user="*"/>
  </policy>
</busconfig>
CONF
    : >"$state/address"
    dbus-daemon --config-file="$state/bus.conf" --print-address=1 --nofork \
        >"$state/address" 2>"$state/stderr" &
    privatebus_pid=$!
    local deadline=$((SECONDS + timeout))
    # Ends early when dbus-daemon gave up.
    until [ -s "$state/address" ]; do
        if ! kill -0 "$privatebus_pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
            # It may have printed the address as it ended.
            [ -s "$state/address" ] && break
            echo "private bus: dbus-daemon did not start (socket directory $privatebus_socket_dir):" >&2
            if [ -s "$state/stderr" ]; then
                sed 's/^/  dbus-daemon: /' "$state/stderr" >&2
            elif kill -0 "$privatebus_pid" 2>/dev/null; then
                echo "  it printed no address within ${timeout} s" >&2
            else
                echo "  it ended without a word" >&2
            fi
            return 1
        fi
        sleep 0.1
    done
    privatebus_address=$(head -n 1 "$state/address")
}

# privatebus_stop: ends the bus that privatebus_start began (only that one)
# and removes its socket directory.
privatebus_stop() {
    if [ -n "$privatebus_pid" ] && kill -0 "$privatebus_pid" 2>/dev/null; then
        kill -TERM "$privatebus_pid" 2>/dev/null || true
        wait "$privatebus_pid" 2>/dev/null || true
    fi
    privatebus_pid=
    if [ -n "$privatebus_socket_dir" ]; then
        rm -rf "$privatebus_socket_dir" || true
        privatebus_socket_dir=
    fi
    # shellcheck disable=SC2034
    privatebus_address=
}
