#!/usr/bin/env bash
# The whole Java job (jarseal-cli on one suite, as a process) against the two
# bare JAD tool runs it makes (java -jar data/jadtool.jar -addcert, then
# -addjarsig), as a paired ratio: each round times one job and one pair of
# bare runs right after each other, in alternating order, and the ratio of
# the round is job / bare runs. Prints the medians of the job, of the bare
# runs and of the ratios, for a suite of 1,001 entries (about 1.6 MB) and
# one of 5,000 entries (about 20 MB), both made by jarseal-make-suite.
#
# Usage: bench/java/job_ratio.sh [BUILD_DIR] [ROUNDS]
#   BUILD_DIR  a built program folder (default: build)
#   ROUNDS     rounds per suite (default: 11)
# SUITES="1001:1600000" (entries:bytes, blank separated) chooses other suites.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
rounds="${2:-11}"
suites="${SUITES:-1001:1600000 5000:20000000}"
make_suite="$build/jarseal-make-suite"
[ -x "$make_suite" ] || { echo "build jarseal-make-suite first" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The bare runs get what the job gives its JAD tool runs: the tool's class
# data archive, when the build made one.
toolenv=()
if [ -f "$build/data/jadtool.jsa" ]; then
    toolenv=("JDK_JAVA_OPTIONS=-XX:SharedArchiveFile=\"$build/data/jadtool.jsa\" -Xshare:auto -Xlog:cds*=off -XX:TieredStopAtLevel=1")
fi
jad=(env "${toolenv[@]}" java -jar "$build/data/jadtool.jar")
store=(-keystore "$build/data/key" -storepass 52039871)

now() { date +%s%N; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# The job on the suite, as a fresh first run: no descriptor and no backup yet.
time_job() {
    rm -f "$work/suite.jad" "$work/suite.jad.original"
    local t0 t1
    t0=$(now)
    "$build/jarseal-cli" "$work/suite.jar" >/dev/null 2>&1
    t1=$(now)
    echo $(((t1 - t0) / 1000))
}

# The same two tool runs with the same settings, from the first-stage descriptor.
time_tools() {
    local t0 t1
    t0=$(now)
    "${jad[@]}" -addcert -alias jsk "${store[@]}" -inputjad "$work/first.jad" -outputjad "$work/temp.jad" 2>/dev/null
    "${jad[@]}" -addjarsig -alias jsk "${store[@]}" -keypass 52039871 -inputjad "$work/temp.jad" \
        -outputjad "$work/bare.jad" -jarfile "$work/suite.jar" 2>/dev/null
    t1=$(now)
    rm -f "$work/temp.jad" "$work/bare.jad"
    echo $(((t1 - t0) / 1000))
}

for suite in $suites; do
    entries="${suite%%:*}"
    bytes="${suite##*:}"
    "$make_suite" "$work/suite.jar" "$work/first.jad" "$entries" "$bytes" >/dev/null
    size=$(stat -c %s "$work/suite.jar")
    # One round of each first, untimed: the page cache and the JIT caches of
    # the system settle.
    time_job >/dev/null
    time_tools >/dev/null
    jobs=() tools=() ratios=()
    for i in $(seq "$rounds"); do
        if ((i % 2)); then
            j=$(time_job)
            t=$(time_tools)
        else
            t=$(time_tools)
            j=$(time_job)
        fi
        jobs+=("$j") tools+=("$t")
        ratios+=("$(awk -v j="$j" -v t="$t" 'BEGIN {printf "%.4f", j / t}')")
    done
    mj=$(printf '%s\n' "${jobs[@]}" | median)
    mt=$(printf '%s\n' "${tools[@]}" | median)
    mr=$(printf '%s\n' "${ratios[@]}" | median)
    awk -v n="$entries" -v s="$size" -v r="$rounds" -v j="$mj" -v t="$mt" -v q="$mr" 'BEGIN {
        printf "suite: %d entries, %.2f MB, %d rounds\n", n, s / 1e6, r
        printf "  whole job (median):         %8.1f ms\n", j / 1000
        printf "  two bare tool runs (median):%8.1f ms\n", t / 1000
        printf "  job / tool runs (median of the paired ratios): %.3f\n", q }'
done
