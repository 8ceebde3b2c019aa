#!/bin/sh
# Runs a Windows program under Wine, headless, in the private prefix given first; the prefix is made on first
# use. Used as CMake's cross-compiling emulator, so ctest runs the Windows tests through it.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# No window may reach a desktop: the tests run where there is none. Wine's WinINet would take a proxy from the
# environment, and the tests talk to loopback servers only.
unset DISPLAY WAYLAND_DISPLAY http_proxy https_proxy HTTP_PROXY HTTPS_PROXY

if [ ! -f "$prefix/tolvar-ready" ]; then
    mkdir -p "$(dirname "$prefix")"
    # Two tests starting at once must not both build the prefix.
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$prefix/tolvar-ready" ]; then
        rm -rf "$prefix"
        wineboot -i >/dev/null 2>&1
        wineserver -w
        touch "$prefix/tolvar-ready"
    fi
    exec 9>&-
fi
exec wine "$@"
