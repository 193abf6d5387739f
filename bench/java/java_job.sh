#!/usr/bin/env bash
# Times the whole Java job on the sample suite (jarseal-cli as a process)
# next to the two bare JAD tool runs it makes, and prints the program's own
# share: everything but the two tool runs.
# Usage: bench/java/java_job.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
runs="${2:-15}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$build/sample/sample.jar" "$work/"

jad=(java -jar "$build/data/jadtool.jar")
store=(-keystore "$build/data/key" -storepass 52039871)

# A first-stage descriptor for the bare tool runs.
"$build/jarseal-cli" "$work/sample.jar" 2>/dev/null
cp "$work/sample.jad" "$work/first.jad"

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

job=() tools=()
for _ in $(seq "$runs"); do
    rm -f "$work/sample.jad" "$work/sample.jad.original"
    t0=$(now)
    "$build/jarseal-cli" "$work/sample.jar" 2>/dev/null
    t1=$(now)
    "${jad[@]}" -addcert -alias jsk "${store[@]}" -inputjad "$work/first.jad" -outputjad "$work/t.jad"
    "${jad[@]}" -addjarsig -alias jsk "${store[@]}" -keypass 52039871 -inputjad "$work/t.jad" \
        -outputjad "$work/out.jad" -jarfile "$work/sample.jar"
    t2=$(now)
    job+=($(( (t1 - t0) / 1000 )))
    tools+=($(( (t2 - t1) / 1000 )))
done
mj=$(printf '%s\n' "${job[@]}" | median)
mt=$(printf '%s\n' "${tools[@]}" | median)
awk -v j="$mj" -v t="$mt" -v n="$runs" 'BEGIN {
    printf "runs: %d\nwhole job (median):      %8.1f ms\ntwo bare tool runs:      %8.1f ms\n", n, j/1000, t/1000
    printf "program own share:       %8.1f ms (%.1f%%)\n", (j-t)/1000, 100*(j-t)/j }'
