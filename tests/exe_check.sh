#!/usr/bin/env bash
# The built Quillmere.exe, read with binutils and icoutils: it loads only system DLLs, embeds
# its manifest as written and its icon, and has no version resource. (Whether it is a 64-bit
# GUI program for x64 is the image table's first row.)
set -uo pipefail
exe=$1
failed=0
expect() {
  grep -qE -- "$2" <<<"$3" || { echo "FAIL: $1"; failed=1; }
}
# shell32 and user32 are bound at their first call, so they are no load-time imports.
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
dlls=$(grep -oP 'DLL Name: \K.*' <<<"$headers" | sort -u | xargs)
expect "load-time imports: $dlls" '^KERNEL32.dll msvcrt.dll$' "$dlls"
named=$(strings -a "$exe" | grep -ioE '^[a-z0-9]+\.dll$' | tr A-Z a-z | sort -u | xargs)
expect "DLLs named: $named" '^kernel32.dll msvcrt.dll shell32.dll user32.dll$' "$named"
manifest=$(dirname "$0")/../src/startup/resources/Quillmere.manifest
wrestool -x -R -t24 -n1 "$exe" | cmp -s - "$manifest" || { echo "FAIL: manifest"; failed=1; }
icon=$(mktemp)
wrestool -x -t14 -n IDI_ICON1 "$exe" >"$icon"
sizes=$(icotool -l "$icon" | grep -oP 'width=\d+(?=.*depth=32)' | xargs)
rm "$icon"
expect "icon sizes: $sizes" "^$(printf 'width=%s ' 16 24 32 48 64 72 96 128)width=256$" "$sizes"
expect "a PNG image" '^PNG$' "$(wrestool -x -R -t3 -n9 "$exe" | head -c4 | tail -c3)"
expect "no version resource" '^$' "$(wrestool -l "$exe" | grep -- '--type=16 ')"
exit $failed
