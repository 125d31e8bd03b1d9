#!/usr/bin/env bash
# Builds the libFuzzer targets (native, clang, ASan and UBSan) and runs each one for
# a while on a copy of its seed corpus, so the committed corpus never grows.
#
#   scripts/fuzz.sh [seconds per target, default 10]
#
# QUILLMERE_FUZZ_BUILD_DIR picks the build folder (default build/native, the native
# preset's). Inputs that break a target are kept in <build>/fuzz-findings; the exit
# status is non-zero when there is one.
set -euo pipefail

seconds=${1:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLMERE_FUZZ_BUILD_DIR:-build/native}
[[ $build == /* ]] || build=$root/$build
targets=(settings_fuzzer layout_fuzzer journal_fuzzer stub_image_fuzzer quote_argument_fuzzer)

cd "$root"
if [[ ! -f $build/CMakeCache.txt ]]; then
  if [[ $build == "$root/build/native" ]]; then
    cmake --preset native
  else
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
      -DQUILLMERE_SANITIZE=ON -DQUILLMERE_FUZZ=ON -DQUILLMERE_TESTS=OFF
  fi
fi
cmake --build "$build" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=$build/fuzz-findings
mkdir -p "$findings"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=0
for target in "${targets[@]}"; do
  # The layout reader looks at no more than 64 bytes; the others read whole files.
  max_len=4096
  [[ $target == layout_fuzzer ]] && max_len=64
  mkdir "$work/$target"
  cp -- fuzz/corpus/"$target"/* "$work/$target/"
  if "$build/fuzz/$target" -max_len=$max_len -max_total_time="$seconds" -timeout=10 \
      -artifact_prefix="$findings/$target-" "$work/$target" >"$work/$target.log" 2>&1; then
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$work/$target.log" | tail -n 1)
    printf '%-22s %s\n' "$target" "${done_line:-(no DONE line)}"
  else
    failed=1
    printf '%-22s FOUND A FAULT; the input is kept in %s\n' "$target" "$findings"
    tail -n 60 "$work/$target.log"
  fi
done
exit $failed
