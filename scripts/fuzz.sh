#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer, UBSan) in
# build-fuzz and runs each for SECONDS seconds (default 60), starting from its
# seed corpus in fuzz/corpus. New inputs go to a temporary copy of the corpus,
# findings to a temporary artifact folder that is kept and named. Exits
# non-zero when any target finds something.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# The compiler is FUZZ_CXX when set, else the first of clang++, clang++-N
# (newest first) that links a libFuzzer program: scripts/deps.sh --tests
# installs the release's clang and its runtime.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
build="${FUZZ_BUILD_DIR:-build-fuzz}"

# Whether a clang links a libFuzzer program with both sanitizers.
links_fuzzer() {
    local dir
    dir="$(mktemp -d "${TMPDIR:-/tmp}/jarseal-fuzz-probe.XXXXXX")"
    printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
        'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' >"$dir/probe.cpp"
    local ok=1
    "$1" -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" >/dev/null 2>&1 || ok=0
    rm -rf "$dir"
    [ "$ok" = 1 ]
}
choose_cxx() {
    local c
    for c in clang++ $(compgen -c clang++- | grep -E '^clang\+\+-[0-9]+$' | sort -t- -k2 -rn | uniq); do
        if command -v "$c" >/dev/null 2>&1 && links_fuzzer "$c"; then
            command -v "$c"
            return 0
        fi
    done
    return 1
}
if [ -n "${FUZZ_CXX:-}" ]; then
    cxx="$(command -v "$FUZZ_CXX" || true)"
    [ -n "$cxx" ] || { echo "fuzz.sh: FUZZ_CXX=$FUZZ_CXX is not found" >&2; exit 1; }
elif ! cxx="$(choose_cxx)"; then
    echo "fuzz.sh: no clang++ that links libFuzzer; scripts/deps.sh --tests installs one" >&2
    exit 1
fi
# A build folder made with another compiler is configured anew; one made with
# the same compiler under another name (clang++ and clang++-14) is kept.
cache="$build/CMakeCache.txt"
if [ -f "$cache" ]; then
    cached="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$cache")"
    if [ -n "$cached" ] && [ "$(readlink -f "$cached" 2>/dev/null)" = "$(readlink -f "$cxx")" ]; then
        cxx="$cached"
    else
        rm -rf "$cache" "$build/CMakeFiles"
    fi
fi
echo "fuzz.sh: compiler $cxx"

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
