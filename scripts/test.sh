#!/usr/bin/env bash
# Installs what is missing, checks that every source is formatted, builds everything and
# runs every test suite: the portable core natively under ASan and UBSan and the checks
# of the built exe; the core, the end-to-end scenarios, the crash tests and the sweep of
# injected faults under Wine; a short fuzzing run; and an unsigned release:
# two clean builds that must give the same Quillmere.exe.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/install-deps.sh

# Formatting is the tools' call: clang-format for C++ (.clang-format), black for Python.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
git ls-files -z '*.py' | xargs -0 black --check --quiet

cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset native -DQUILLMERE_EXE="$PWD/build/windows/Quillmere.exe" >/dev/null
cmake --build --preset native

ctest --preset native
ctest --preset windows

scripts/release.sh
