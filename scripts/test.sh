#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite:
# the portable core natively under ASan and UBSan, the checks of the built exe,
# the core, Windows-side, end-to-end and crash suites under Wine, a short fuzzing run,
# and two clean builds that must give the same Quillmere.exe.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/install-deps.sh

cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset native -DQUILLMERE_EXE="$PWD/build/windows/Quillmere.exe" >/dev/null
cmake --build --preset native

ctest --preset native
ctest --preset windows
scripts/fuzz.sh 10
scripts/check-reproducible.sh
