# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.
# shellcheck shell=bash
# A real apt world in a directory, for the outside programs and the main job:
# local repositories of tiny packages built with dpkg-deb, an apt state of
# its own (reached through APT_CONFIG) and a sandbox root with its own dpkg
# database. No network; nothing outside the given directories is touched.
#
# Source it from bash; every function takes its directories as arguments.

# aptsandbox_make_package BUILD_DIR REPO_DIR NAME VERSION CONFFILE [CONTROL-LINES]
# Builds NAME_VERSION_all.deb into REPO_DIR. The package holds
# /usr/share/NAME/version; with CONFFILE "yes" also the configuration file
# /etc/NAME.conf ("setting=VERSION default").
aptsandbox_make_package() {
    local build=$1 repo=$2 name=$3 version=$4 conffile=$5 extra=${6:-}
    local dir=$build/${name}_$version
    mkdir -p "$dir/DEBIAN" "$dir/usr/share/$name" "$repo" || return 1
    {
        printf 'Package: %s\nVersion: %s\nArchitecture: all\n' "$name" "$version"
        printf 'Maintainer: Kirta Tests <tests@example.invalid>\n'
        [ -n "$extra" ] && printf '%s\n' "$extra"
        printf 'Description: test package\n'
    } >"$dir/DEBIAN/control"
    echo "$version" >"$dir/usr/share/$name/version"
    if [ "$conffile" = yes ]; then
        mkdir -p "$dir/etc"
        echo "setting=$version default" >"$dir/etc/$name.conf"
        echo "/etc/$name.conf" >"$dir/DEBIAN/conffiles"
    fi
    dpkg-deb -Zgzip --root-owner-group -b "$dir" "$repo/${name}_${version}_all.deb" >/dev/null
}

# aptsandbox_index_repo REPO_DIR: writes Packages and Packages.gz.
aptsandbox_index_repo() {
    (cd "$1" && dpkg-scanpackages . /dev/null >Packages 2>/dev/null && gzip -kf Packages)
}

# aptsandbox_source_line REPO_DIR: a sources.list line for the repository.
# "copy:" rather than "file:" makes apt copy the archives into its archive
# directory, as a download would.
aptsandbox_source_line() {
    echo "deb [trusted=yes] copy:$1 ./"
}

# aptsandbox_status_entry NAME VERSION [EXTRA-LINES]: a dpkg status entry of
# an installed package.
aptsandbox_status_entry() {
    printf 'Package: %s\nStatus: install ok installed\nPriority: optional\n' "$1"
    printf 'Maintainer: Kirta Tests <tests@example.invalid>\nArchitecture: all\n'
    printf 'Version: %s\nInstalled-Size: 1\n' "$2"
    [ -n "${3:-}" ] && printf '%s\n' "$3"
    printf 'Description: test package\n\n'
}

# aptsandbox_new_root ROOT: an empty dpkg database and the package archive
# directory.
aptsandbox_new_root() {
    local root=$1
    mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" \
        "$root/var/lib/dpkg/triggers" "$root/var/cache/apt/archives/partial" || return 1
    : >>"$root/var/lib/dpkg/status"
}

# aptsandbox_install ROOT NAME VERSION CONFFILE [FILES]
# Records NAME VERSION as installed in ROOT, with the files that
# aptsandbox_make_package puts in it ("FILES" "no" leaves them out: the
# package then owns nothing). With CONFFILE "yes" the administrator has
# changed /etc/NAME.conf to "setting=mine", which an upgrade must keep.
aptsandbox_install() {
    local root=$1 name=$2 version=$3 conffile=$4 files=${5:-yes}
    local info=$root/var/lib/dpkg/info conffiles=
    if [ "$files" != yes ]; then
        : >"$info/$name.list"
        : >"$info/$name.md5sums"
        aptsandbox_status_entry "$name" "$version" >>"$root/var/lib/dpkg/status"
        return
    fi
    mkdir -p "$root/usr/share/$name" || return 1
    echo "$version" >"$root/usr/share/$name/version"
    {
        printf '%s\n' /. /usr /usr/share "/usr/share/$name" "/usr/share/$name/version"
        [ "$conffile" = yes ] && printf '%s\n' /etc "/etc/$name.conf"
    } >"$info/$name.list"
    (cd "$root" && md5sum "usr/share/$name/version") >"$info/$name.md5sums"
    if [ "$conffile" = yes ]; then
        local md5
        md5=$(echo "setting=$version default" | md5sum | cut -d' ' -f1)
        conffiles="Conffiles:
 /etc/$name.conf $md5"
        mkdir -p "$root/etc"
        echo "setting=mine" >"$root/etc/$name.conf"
    fi
    aptsandbox_status_entry "$name" "$version" "$conffiles" >>"$root/var/lib/dpkg/status"
}

# aptsandbox_apt_state DIR ROOT
# An apt state of its own in DIR, for the dpkg database of ROOT; the
# configuration to export as APT_CONFIG is DIR/config. The sources list is
# DIR/sources.list, the parts directory DIR/sources.list.d (both empty), and
# dpkg logs to DIR/dpkg.log.
aptsandbox_apt_state() {
    local dir=$1 root=$2
    mkdir -p "$dir/state/lists/partial" "$dir/cache" "$dir/log" "$dir/apt.conf.d" \
        "$dir/sources.list.d" "$dir/preferences.d" || return 1
    : >"$dir/sources.list"
    # The machine's apt.conf and apt.conf.d are kept out (Dir::Etc::main
    # names a file that does not exist, Dir::Etc::parts an empty directory):
    # their hooks would run on the real system.
    cat >"$dir/config" <<EOF
Dir::State "$dir/state";
Dir::State::status "$root/var/lib/dpkg/status";
Dir::Cache "$dir/cache";
Dir::Etc::sourcelist "$dir/sources.list";
Dir::Etc::sourceparts "$dir/sources.list.d";
Dir::Etc::preferences "$dir/preferences";
Dir::Etc::preferencesparts "$dir/preferences.d";
Dir::Log "$dir/log";
Dir::Etc::main "$dir/apt.conf";
Dir::Etc::parts "$dir/apt.conf.d";
Debug::NoLocking "true";
APT::Sandbox::User "root";
DPkg::Options { "--log=$dir/dpkg.log"; };
EOF
}

# aptsandbox_installed_version ROOT NAME: the version dpkg has installed in
# ROOT, empty when none.
aptsandbox_installed_version() {
    dpkg-query --admindir="$1/var/lib/dpkg" -W -f='${Version}' "$2" 2>/dev/null
}

# aptsandbox_dpkg ROOT DPKG-ARGS...: dpkg acting on ROOT and its database,
# as the offline upgrade runs it.
aptsandbox_dpkg() {
    local root=$1
    shift
    dpkg --root="$root" --admindir="$root/var/lib/dpkg" "$@"
}
