#!/usr/bin/env bash
# Checks one property of the built Quillmere.exe with the binutils and icoutils
# readers of PE files:  check_exe.sh <exe> headers|imports|manifest|icon|no-version
set -euo pipefail
exe=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
resources=$(wrestool -l "$exe")
scratch=$(mktemp)
trap 'rm -f "$scratch"' EXIT
# The first $3 bytes of resource type $1, name $2, as decimal numbers.
first_bytes() {
  wrestool -x -R -t"$1" -n"$2" "$exe" >"$scratch"
  head -c "$3" "$scratch" | od -An -tu1 -v | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'
}

case $2 in
  headers)
    grep -q 'file format pei-x86-64' <<<"$headers" || fail "not an x86-64 PE file"
    grep -qE '^Magic\s+020b' <<<"$headers" || fail "not PE32+"
    grep -qE '^Subsystem\s+00000002' <<<"$headers" || fail "not a GUI program" ;;
  imports)
    # Only DLLs that every Windows has: no MinGW runtime beside the exe. shell32
    # and user32 are bound at their first call, so they are no load-time imports.
    dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u | tr '\n' ' ')
    [[ $dlls == "kernel32.dll msvcrt.dll " ]] || fail "imports: $dlls"
    named=$(strings "$exe" | grep -iE '\.dll$' | tr A-Z a-z | sort -u | tr '\n' ' ')
    [[ $named == "kernel32.dll msvcrt.dll shell32.dll user32.dll " ]] || fail "DLLs named: $named" ;;
  manifest)
    [[ $(grep -c -- '--type=24' <<<"$resources") == 1 ]] && grep -q -- '--type=24 --name=1 ' <<<"$resources" \
      || fail "expected exactly one manifest, id 1"
    manifest=$(wrestool -x -R -t24 -n1 "$exe" | sed 's/<!--.*-->//g; /<!--/,/-->/d')
    for want in 'name="Quillmere"' 'version="1.0.0.0"' 'level="asInvoker"' 'uiAccess="false"' \
        'SMI/2005/WindowsSettings">True</dpiAware>' 'SMI/2016/WindowsSettings">true</longPathAware>'; do
      grep -qF "$want" <<<"$manifest" || fail "manifest lacks $want"
    done ;;
  icon)
    [[ $(grep -c -- '--type=14' <<<"$resources") == 1 ]] && grep -q -- "--type=14 --name='IDI_ICON1'" <<<"$resources" \
      || fail "expected the one icon group IDI_ICON1"
    wrestool -x -t14 -n IDI_ICON1 "$exe" >"$scratch"
    listed=$(icotool -l "$scratch" | sed 's/--index=[0-9]* //' | tr '\n' ';')
    want=""
    for s in 16 24 32 48 64 72 96 128 256; do
      want+="--icon --width=$s --height=$s --bit-depth=32 --palette-size=0;"
    done
    [[ $listed == "$want" ]] || fail "icon group lists: $listed"
    # The largest image is stored as PNG, the others as 32-bit DIBs of double height.
    [[ $(first_bytes 3 9 8) == "137 80 78 71 13 10 26 10" ]] \
      || fail "the 256-pixel image is no PNG"
    n=0
    for s in 16 24 32 48 64 72 96 128; do
      n=$((n + 1))
      header=$(first_bytes 3 $n 16)
      want="40 0 0 0 $s 0 0 0 $((2 * s % 256)) $((2 * s / 256)) 0 0 1 0 32 0"
      [[ $header == "$want" ]] || fail "image $n ($s px): $header"
    done ;;
  no-version)
    ! grep -q -- '--type=16 ' <<<"$resources" || fail "there is a version resource" ;;
  *) fail "unknown check $2" ;;
esac
echo "ok: $2"
