#!/usr/bin/env bash
# Builds Quillmere.exe twice from clean, in two different folders, and checks that
# the two files are byte for byte the same; then writes dist/ from the result, with
# its SHA-256 sum.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for build in "$work/first" "$work/second/elsewhere"; do
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DQUILLMERE_TESTS=OFF >/dev/null
  cmake --build "$build" --target Quillmere >/dev/null
done
if ! cmp "$work/first/Quillmere.exe" "$work/second/elsewhere/Quillmere.exe"; then
  echo "Two clean builds of Quillmere.exe differ." >&2
  exit 1
fi
mkdir -p dist
cp "$work/first/Quillmere.exe" dist/Quillmere.exe
(cd dist && sha256sum Quillmere.exe >Quillmere.exe.sha256)
echo "Reproducible: two clean builds agree; dist/Quillmere.exe $(cut -d' ' -f1 dist/Quillmere.exe.sha256)"
