#!/usr/bin/env bash
# Installs what is missing, builds dist/Quillmere.exe, lays out a sample install
# folder in the first layout (as an older download left it) and starts the stub on
# it under Wine. A small probe program stands in for the launcher and reports the
# command line and working directory it was given; the probe ends with exit code 7,
# which the stub passes on.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/install-deps.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target Quillmere quillmere-check probe
mkdir -p dist
cp build/windows/Quillmere.exe dist/Quillmere.exe
(cd dist && sha256sum Quillmere.exe >Quillmere.exe.sha256)
# An unsigned build: no signed release's hash may stand beside it.
rm -f dist/Quillmere.unsigned.exe.sha256
echo "Built dist/Quillmere.exe ($(stat -c %s dist/Quillmere.exe) bytes)"

work=$(mktemp -d /tmp/quillmere-demo.XXXXXX)
game="$work/My Game"
mkdir -p "$game/content/bin" "$game/content/resources/vfs" "$game/logs" "$game/settings"
cp dist/Quillmere.exe "$game/"
cp build/windows/tests/probe.exe "$game/content/bin/QuillmereLauncher.exe"
printf 'defaults' >"$game/content/bin/defaults.bin"
printf 'data=vfs\n' >"$game/settings/openmw.cfg"
printf 'server=live\r\n' >"$game/settings/launcher-settings.txt"

show_tree() { (cd "$game" && find . -mindepth 1 | sort | sed 's|^\./|  |'); }
echo
echo "Install folder before the start ($game):"
show_tree

echo
echo "What quillmere-check says the start will do:"
cmake/wine-run.sh build/windows/quillmere-check.exe "$(printf 'Z:%s' "$game" | tr / '\\')" \
  -- --windowed "x y" 2>/dev/null | sed 's/^/  /' || true

records="$work/probe"
mkdir "$records"
echo
echo "Starting: wine \"$game/Quillmere.exe\" --windowed \"x y\""
set +e
QUILLMERE_PROBE_OUT="$(printf 'Z:%s' "$records" | tr / '\\')" QUILLMERE_PROBE_EXIT=7 \
  cmake/wine-run.sh "$game/Quillmere.exe" --windowed "x y" 2>/dev/null
code=$?
set -e

echo
echo "Install folder after the start (migrated to the current layout):"
show_tree
echo
record=$(ls "$records")
if [[ -n "$record" ]]; then
  # The probe's record: its path, command line and working folder (then its arguments),
  # as UTF-16 fields each ended by a zero character.
  mapfile -t fields < <(iconv -f UTF-16LE -t UTF-8 "$records/$record" | tr '\0' '\n')
  echo "The launcher was started:"
  echo "  program:           ${fields[0]}"
  echo "  command line:      ${fields[1]}"
  echo "  working directory: ${fields[2]}"
else
  echo "The launcher was not started."
fi
echo "Quillmere.exe ended with exit code $code."
