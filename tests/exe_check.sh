#!/usr/bin/env bash
# The built Quillmere.exe, read with binutils and icoutils: a 64-bit GUI program that
# loads only system DLLs, with its manifest and icon and without a version resource.
set -uo pipefail
exe=$1
failed=0
expect() {
  grep -qE -- "$2" <<<"$3" || { echo "FAIL: $1"; failed=1; }
}
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
expect "PE32+ for x64" 'pei-x86-64' "$headers"
expect "PE32+ for x64" $'^Magic\t+020b' "$headers"
expect "GUI subsystem" $'^Subsystem\t+00000002' "$headers"
# shell32 and user32 are bound at their first call, so they are no load-time imports.
dlls=$(grep -oP 'DLL Name: \K.*' <<<"$headers" | sort -u | xargs)
expect "load-time imports: $dlls" '^KERNEL32.dll msvcrt.dll$' "$dlls"
named=$(strings -a "$exe" | grep -ioE '^[a-z0-9]+\.dll$' | tr A-Z a-z | sort -u | xargs)
expect "DLLs named: $named" '^kernel32.dll msvcrt.dll shell32.dll user32.dll$' "$named"
manifest=$(wrestool -x -R -t24 -n1 "$exe" | sed 's/<!--.*-->//g; /<!--/,/-->/d' | xargs)
for want in 'name=Quillmere' 'version=1.0.0.0' 'level=asInvoker' 'uiAccess=false' \
  'WindowsSettings>True</dpiAware>' 'WindowsSettings>true</longPathAware>'; do
  expect "manifest has $want" "$want" "$manifest"
done
icon=$(mktemp)
wrestool -x -t14 -n IDI_ICON1 "$exe" >"$icon"
sizes=$(icotool -l "$icon" | grep -oP 'width=\d+(?=.*depth=32)' | xargs)
rm "$icon"
expect "icon sizes: $sizes" "^$(printf 'width=%s ' 16 24 32 48 64 72 96 128)width=256$" "$sizes"
expect "a PNG image" '^PNG$' "$(wrestool -x -R -t3 -n9 "$exe" | head -c4 | tail -c3)"
expect "no version resource" '^$' "$(wrestool -l "$exe" | grep -- '--type=16 ')"
exit $failed
