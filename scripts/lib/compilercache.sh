# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.
# Sourced by the build scripts: compiles go through ccache when it is
# installed (scripts/setup installs it), so a later run, also from another
# clone of the same sources, takes unchanged objects from the cache. Paths
# below $1 are hashed relative to it, which is what makes another clone's
# compiles hits; files that still carry the clone's own path (generated
# meta-object files) compile afresh. CCACHE_DISABLE=1 turns the cache off as usual.

use_compiler_cache() {
    command -v ccache >/dev/null 2>&1 || return 0
    export CMAKE_C_COMPILER_LAUNCHER=ccache
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR=$1
    # The working directory is a build directory of this tree or another
    # clone's: leaving it out of the hash is what the base directory is for.
    export CCACHE_NOHASHDIR=1
}
