#!/usr/bin/env bash
# Builds the fuzz targets (clang-14, libFuzzer, AddressSanitizer, UBSan) in
# build-fuzz and runs each for SECONDS seconds (default 60), starting from its
# seed corpus in fuzz/corpus. New inputs go to a temporary copy of the corpus,
# findings to a temporary artifact folder that is kept and named. Exits
# non-zero when any target finds something.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
build="${FUZZ_BUILD_DIR:-build-fuzz}"
cxx="${FUZZ_CXX:-clang++-14}"

cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(manifest profile unzip command_line descriptor)

work="$(mktemp -d "${TMPDIR:-/tmp}/jarseal-fuzz.XXXXXX")"
failed=()
for t in "${targets[@]}"; do
    corpus="$work/corpus-$t"
    artifacts="$work/artifacts-$t"
    mkdir -p "$corpus" "$artifacts"
    cp fuzz/corpus/"$t"/* "$corpus"/
    echo "=== fuzz_$t for ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=60 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 "$corpus" 2>"$work/log-$t.txt"; then
        tail -n 60 "$work/log-$t.txt"
        echo "fuzz_$t: FINDING, see $artifacts and $work/log-$t.txt"
        failed+=("$t")
    else
        grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/log-$t.txt" || true
        rm -rf "$corpus" "$artifacts" "$work/log-$t.txt"
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "Findings in: ${failed[*]} (kept in $work)"
    exit 1
fi
rm -rf "$work"
echo "No findings."
