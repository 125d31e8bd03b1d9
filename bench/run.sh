#!/bin/sh
# Builds the stub and the benchmark programs, runs every benchmark under Wine and
# prints the results as markdown tables. Nothing is asserted. About 6 minutes on
# 2 cores; BENCH_QUICK=1 runs small sizes in well under a minute, to try it out.
#
#   BENCH_BUILD      build folder                 (default: build/bench)
#   BENCH_WORK       scratch folder, ~700 MB      (default: /tmp/quillmere-bench)
#   BENCH_WINEPREFIX a Wine prefix of their own, so that no other Wine program
#                    shares the benchmarks' wineserver
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build/bench}
work=${BENCH_WORK:-/tmp/quillmere-bench}
export WINEPREFIX="${BENCH_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/quillmere/bench-wineprefix}"
wine_run="$root/cmake/wine-run.sh"
if [ -n "${BENCH_QUICK:-}" ]; then
    starts=11 memory_starts=3 files=300 mib=30 copy_runs=3 flat_mib=3 flat_runs=3
    entries=1000 journal_runs=3
else
    starts=51 memory_starts=11 files=3000 mib=300 copy_runs=7 flat_mib=30 flat_runs=5
    entries=10000 journal_runs=7
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DQUILLMERE_TESTS=OFF -DQUILLMERE_BENCH=ON >/dev/null
cmake --build "$build" --target Quillmere quillmere_bench_probe quillmere_bench_minimal_launcher \
    quillmere_bench_sleeper quillmere_bench_start quillmere_bench_ops >/dev/null

stub=$build/Quillmere.exe minimal=$build/bench/minimal_launcher.exe
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
mkdir -p "$work"
"$wine_run" cmd /c exit >/dev/null 2>&1 || true  # the prefix, made once

echo "## Quillmere benchmarks"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores; $(wine --version 2>/dev/null);" \
     "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

# --- size ---------------------------------------------------------------------
section_sizes() {  # prints "name bytes" for each section of a PE file
    x86_64-w64-mingw32-objdump -h "$1" | while read -r idx name size _; do
        case $idx in [0-9]*) echo "$name $((0x$size))" ;; esac
    done
}
echo "### Size of the exe"
echo
echo "Section sizes from the PE headers (objdump -h), in bytes."
echo
echo "| section | holds | Quillmere.exe | minimal_launcher.exe |"
echo "|---|---|---|---|"
section_sizes "$stub" > "$work/stub.sections"
section_sizes "$minimal" > "$work/minimal.sections"
while read -r name bytes; do
    case $name in
        .text) holds="code" ;; .rsrc) holds="resources" ;;
        .rdata) holds="read-only data" ;; .pdata|.xdata) holds="unwind tables" ;;
        .idata) holds="imports" ;; .reloc) holds="relocations" ;;
        .bss) holds="zeroed data (no file bytes)" ;; *) holds="data" ;;
    esac
    other=$(awk -v n="$name" '$1 == n { print $2 }' "$work/minimal.sections")
    echo "| $name | $holds | $bytes | ${other:--} |"
done < "$work/stub.sections"
echo "| file | | $(stat -c %s "$stub") | $(stat -c %s "$minimal") |"
echo
if command -v wrestool >/dev/null; then
    echo "Resources of Quillmere.exe (wrestool -l): $(wrestool -l "$stub" |
        sed -n 's/.*\[type=\([a-z_]*\).*size=\([0-9]*\)\].*/\1 \2/p; s/.*--type=24 .*size=\([0-9]*\)\].*/manifest \1/p' |
        awk '{ sum[$1] += $2; n[$1]++ } END { for (k in sum) printf "%s%s %d B (%d)", sep, k, sum[k], n[k], sep = "; " }')."
    echo
fi

# --- calls made by the exe (Wine's relay trace), one start each ------------------
echo "### Calls made during one start"
echo
echo "From Wine's relay trace of the program's thread: calls from the exe's own code into"
echo "system DLLs, NT system calls (ntdll Nt*), all relayed calls (also those between"
echo "system DLLs, e.g. their start-up), and the modules that the process loaded."
echo
echo "| program | calls from the exe | of them file and handle calls | NT system calls | all relayed calls | modules loaded |"
echo "|---|---|---|---|---|---|"
wineserver -p10 2>/dev/null || true  # keep one server up for both starts
for program in "$stub" "$minimal"; do
    folder=$work/relay-$(basename "$program" .exe)
    rm -rf "$folder"
    mkdir -p "$folder/settings" "$folder/live/content/bin" "$folder/live/content/resources/vfs"
    printf '2\n' > "$folder/settings/install-layout.txt"
    printf 'defaults' > "$folder/live/content/bin/defaults.bin"
    cp "$build/bench/quillmere_bench_probe.exe" "$folder/live/content/bin/QuillmereLauncher.exe"
    cp "$program" "$folder/"
    WINEDEBUG=+relay,+loaddll wine "$folder/$(basename "$program")" 2> "$folder.trace" || true
    tid=$(grep -m1 'Call KERNEL32.CreateProcessW(.*QuillmereLauncher' "$folder.trace" | cut -d: -f1)
    own=$(grep -E "^$tid:Call .*ret=1400" "$folder.trace" || true)
    echo "| $(basename "$program") | $(printf '%s\n' "$own" | grep -c Call) |" \
         "$(printf '%s\n' "$own" | grep -cE 'KERNEL32\.(GetFileAttributes|CreateFile|ReadFile|CloseHandle|DeleteFile|MoveFile|CopyFile|CreateDirectory|FindFirst|FindNext|FindClose)')" \
         "| $(grep -cE "^$tid:Call ntdll\.(Nt|Zw)" "$folder.trace") | $(grep -c "^$tid:Call " "$folder.trace")" \
         "| $(grep -c "^$tid:trace:loaddll:.*Loaded" "$folder.trace") |"
    rm -rf "$folder" "$folder.trace"
done
echo

# --- start-up and memory, then the long operations ---------------------------------
"$wine_run" "$build/bench/quillmere_bench_start.exe" "$(windows_path "$work/start")" \
    "$(windows_path "$stub")" "$(windows_path "$minimal")" \
    "$(windows_path "$build/bench/quillmere_bench_probe.exe")" \
    "$(windows_path "$build/bench/sleeper.exe")" "$starts" "$memory_starts"
"$wine_run" "$build/bench/quillmere_bench_ops.exe" copy "$(windows_path "$work/copy")" \
    "$files" "$mib" "$copy_runs"
# The same number of small files in one folder: the cost per file shows.
"$wine_run" "$build/bench/quillmere_bench_ops.exe" copy "$(windows_path "$work/copy")" \
    "$files" "$flat_mib" "$flat_runs" flat
"$wine_run" "$build/bench/quillmere_bench_ops.exe" journal "$(windows_path "$work/journal")" \
    "$entries" "$journal_runs"
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
rm -rf "$work"
