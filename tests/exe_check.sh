#!/usr/bin/env bash
# The built Quillmere.exe, read with binutils and icoutils: a 64-bit GUI program that
# loads only system DLLs, with its manifest and icon and without a version resource.
set -uo pipefail
exe=$1 failed=0 icon=$(mktemp)
trap 'rm -f "$icon"' EXIT
fail() { echo "FAIL: $*"; failed=1; }
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
grep -q 'file format pei-x86-64' <<<"$headers" && grep -qE '^Magic\s+020b' <<<"$headers" || fail "not PE32+ for x64"
grep -qE '^Subsystem\s+00000002' <<<"$headers" || fail "not a GUI program"
# shell32 and user32 are bound at their first call, so they are no load-time imports.
dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u | xargs)
[[ $dlls == "kernel32.dll msvcrt.dll" ]] || fail "imports at load time: $dlls"
named=$(strings -a "$exe" | grep -iE '^[a-z0-9]+\.dll$' | tr A-Z a-z | sort -u | xargs)
[[ $named == "kernel32.dll msvcrt.dll shell32.dll user32.dll" ]] || fail "DLLs named: $named"
manifest=$(wrestool -x -R -t24 -n1 "$exe" | sed 's/<!--.*-->//g; /<!--/,/-->/d')
for want in 'name="Quillmere"' 'version="1.0.0.0"' 'level="asInvoker"' 'uiAccess="false"' \
    'WindowsSettings">True</dpiAware>' 'WindowsSettings">true</longPathAware>'; do
  grep -qF "$want" <<<"$manifest" || fail "manifest lacks $want"
done
wrestool -x -t14 -n IDI_ICON1 "$exe" >"$icon"
sizes=$(icotool -l "$icon" | grep -oE 'width=[0-9]+ --height=[0-9]+ --bit-depth=32' | grep -oE '^width=[0-9]+' | xargs)
[[ $sizes == "width=16 width=24 width=32 width=48 width=64 width=72 width=96 width=128 width=256" ]] || fail "icon group IDI_ICON1: $sizes"
[[ $(wrestool -x -R -t3 -n9 "$exe" | head -c4 | od -An -c | xargs) == '211 P N G' ]] || fail "the 256-pixel image is no PNG"
! wrestool -l "$exe" | grep -q -- '--type=16 ' || fail "there is a version resource"
exit $failed
