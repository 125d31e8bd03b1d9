#!/bin/sh
# Runs a Windows program under Wine in the project's own prefix, set up once.
# Several tests may start at once (ctest -j), so the set-up is serialised.
set -e
: "${WINEPREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/quillmere/wineprefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.quillmere-ready-2" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.quillmere-ready-2" ]; then
            wineboot -i >/dev/null 2>&1
            # Without a display, message boxes fail at once; the null driver makes
            # them real, invisible dialogs that the tests can read and close.
            wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
            # A program that crashes ends at once, without a debugger waiting on it.
            wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
            wineserver -w
            touch "$WINEPREFIX/.quillmere-ready-2"
        fi
    ) 9>"$(dirname "$WINEPREFIX")/wineprefix.lock"
fi
exec wine "$@"
