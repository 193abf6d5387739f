#!/usr/bin/env bash
# The JAD tool's runs against the start of a bare Java runtime: each round
# runs `java -version`, one -addcert and one -addjarsig on a suite of 1,001
# entries (about 1.6 MB, made by jarseal-make-suite), in an order that turns
# from round to round, and the ratios of the round are each run's time / the
# time of `java -version`. Prints the medians of the times and of the ratios.
#
# The tool runs as the program runs it, environment included: with a class
# archive beside the jar (data/jadtool.jsa) its runs get the launcher options
# the program gives them (JadToolLaunchOptions in src/process/RunAndWait.cpp);
# BARE=1 leaves them out.
#
# Usage: bench/java/tool_ratio.sh [BUILD_DIR] [ROUNDS]
#   BUILD_DIR  a built program folder (default: build)
#   ROUNDS     rounds (default: 21)
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
rounds="${2:-21}"
make_suite="$build/jarseal-make-suite"
[ -x "$make_suite" ] || { echo "build jarseal-make-suite first" >&2; exit 2; }
[ -f "$build/data/jadtool.jar" ] || { echo "build jadtool first" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

jad=(java -jar "$build/data/jadtool.jar")
store=(-keystore "$build/data/key" -storepass 52039871)
toolenv=()
if [ -f "$build/data/jadtool.jsa" ] && [ "${BARE:-0}" != 1 ]; then
    toolenv=("JDK_JAVA_OPTIONS=-XX:SharedArchiveFile=\"$build/data/jadtool.jsa\" -Xshare:auto -Xlog:cds*=off -XX:TieredStopAtLevel=1")
fi

now() { date +%s%N; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# Each prints its time in microseconds; a failing run stops the bench.
time_version() {
    local t0 t1
    t0=$(now)
    java -version 2>/dev/null
    t1=$(now)
    echo $(((t1 - t0) / 1000))
}
time_addcert() {
    local t0 t1
    t0=$(now)
    env "${toolenv[@]+"${toolenv[@]}"}" "${jad[@]}" -addcert -alias jsk "${store[@]}" \
        -inputjad "$work/first.jad" -outputjad "$work/cert.jad" 2>/dev/null
    t1=$(now)
    echo $(((t1 - t0) / 1000))
}
time_addjarsig() {
    local t0 t1
    t0=$(now)
    env "${toolenv[@]+"${toolenv[@]}"}" "${jad[@]}" -addjarsig -alias jsk "${store[@]}" -keypass 52039871 \
        -inputjad "$work/cert.jad" -outputjad "$work/signed.jad" -jarfile "$work/suite.jar" 2>/dev/null
    t1=$(now)
    echo $(((t1 - t0) / 1000))
}

"$make_suite" "$work/suite.jar" "$work/first.jad" 1001 1600000 >/dev/null
size=$(stat -c %s "$work/suite.jar")
# One untimed round first: the page cache settles.
time_version >/dev/null
time_addcert >/dev/null
time_addjarsig >/dev/null
vs=() cs=() ss=() rc=() rs=()
for i in $(seq "$rounds"); do
    case $((i % 3)) in
    0) v=$(time_version); c=$(time_addcert); s=$(time_addjarsig) ;;
    1) c=$(time_addcert); s=$(time_addjarsig); v=$(time_version) ;;
    2) s=$(time_addjarsig); v=$(time_version); c=$(time_addcert) ;;
    esac
    vs+=("$v") cs+=("$c") ss+=("$s")
    rc+=("$(awk -v a="$c" -v b="$v" 'BEGIN {printf "%.4f", a / b}')")
    rs+=("$(awk -v a="$s" -v b="$v" 'BEGIN {printf "%.4f", a / b}')")
done
mv=$(printf '%s\n' "${vs[@]}" | median)
mc=$(printf '%s\n' "${cs[@]}" | median)
ms=$(printf '%s\n' "${ss[@]}" | median)
qc=$(printf '%s\n' "${rc[@]}" | median)
qs=$(printf '%s\n' "${rs[@]}" | median)
awk -v s="$size" -v r="$rounds" -v v="$mv" -v c="$mc" -v j="$ms" -v qc="$qc" -v qs="$qs" \
    -v a="$([ ${#toolenv[@]} -gt 0 ] && echo "with the class archive" || echo "without a class archive")" 'BEGIN {
    printf "suite: 1001 entries, %.2f MB, %d rounds, tool %s\n", s / 1e6, r, a
    printf "  java -version (median): %8.1f ms\n", v / 1000
    printf "  -addcert (median):      %8.1f ms   ratio (median of paired): %.3f\n", c / 1000, qc
    printf "  -addjarsig (median):    %8.1f ms   ratio (median of paired): %.3f\n", j / 1000, qs }'
