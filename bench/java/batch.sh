#!/usr/bin/env bash
# Times jarseal-cli on an archive of 500 packages: a tree of nested folders,
# mostly one suite a folder (real-sized suites from jarseal-make-suite, with
# their first descriptor), 40 broken suites (truncated archives, and
# manifests whose MIDlet-1 class is missing), 5 descriptors without their
# jar, and 10 Symbian packages. It times, each on a fresh copy of the tree:
#   --jobs 1, --jobs 2, separate runs (one package each, on a sample of
#   SAMPLE packages, scaled to all of them), and a rerun of the --jobs 2
#   tree with --skip-signed.
# It checks the timed runs' reports (every package, with the result it
# should have) and prints the ratios against their targets: --jobs 2 at most
# 0.6 x --jobs 1, the batch at most 0.015 x separate runs, the rerun at most
# 0.1 x the first run. A benchmark: not part of the tests.
# Usage: bench/java/batch.sh [BUILD_DIR]
# Environment: SAMPLE=k separate runs timed (default 50); KB=size of a suite
# in KB (default 150); REPEAT=n timings of each batch run, the least counted
# (default 3).
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
sample="${SAMPLE:-50}"
repeat="${REPEAT:-3}"
kb="${KB:-150}"
cli="$build/jarseal-cli"
make="$build/jarseal-make-suite"
for f in "$cli" "$make" "$build/data/jadtool.jar" "$build/sample/sample.sis"; do
    [[ -e "$f" ]] || { echo "missing $f (build the project and jarseal-make-suite)" >&2; exit 1; }
done
command -v zip >/dev/null || { echo "zip is needed to make the broken suites" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 is needed to read the reports" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tree="$work/tree"

# 445 good suites, 40 broken, 5 orphan descriptors, 10 Symbian packages.
folder() { # the folder of package i: nested two and three deep
    local i=$1
    printf '%s/shelf%02d/box%02d/item%03d' "$tree" $((i % 12)) $((i % 7)) "$i"
}
mkdir -p "$work/make/META-INF" "$work/make/game"
for i in $(seq 1 445); do
    d="$(folder "$i")"
    mkdir -p "$d"
    # A few folders hold two suites.
    if ((i % 50 == 0)); then d="$(folder $((i - 1)))"; fi
    "$make" "$d/game$i.jar" "$d/game$i.jad" 40 $((kb * 1000)) >/dev/null
done
for i in $(seq 446 485); do
    d="$(folder "$i")"
    mkdir -p "$d"
    if ((i % 2)); then # a truncated archive
        "$make" "$work/whole.jar" "$work/whole.jad" 40 $((kb * 1000)) >/dev/null
        head -c $((kb * 500)) "$work/whole.jar" >"$d/broken$i.jar"
    else # MIDlet-1 names a class the jar lacks (907)
        printf 'Manifest-Version: 1.0\r\nMIDlet-1: Broken, /icon.png, game.Missing\r\nMIDlet-Name: Broken %d\r\nMIDlet-Vendor: Bench\r\nMIDlet-Version: 1.0\r\nMicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\n\r\n' \
            "$i" >"$work/make/META-INF/MANIFEST.MF"
        head -c $((kb * 1000)) /dev/urandom >"$work/make/game/data.bin"
        (cd "$work/make" && zip -q -X -r "$d/broken$i.jar" META-INF game)
    fi
done
for i in $(seq 486 490); do
    d="$(folder "$i")"
    mkdir -p "$d"
    printf 'MIDlet-Name: Orphan\r\nMIDlet-Jar-URL: orphan%d.jar\r\n' "$i" >"$d/orphan$i.jad"
done
for i in $(seq 491 500); do
    d="$(folder "$i")"
    mkdir -p "$d"
    cp "$build/sample/sample.sis" "$d/app$i.sis"
done
echo "tree: $(find "$tree" -name '*.jar' | wc -l) jars, $(find "$tree" -name '*.jad' | wc -l) jads," \
    "$(find "$tree" -name '*.sis' | wc -l) sis, $(du -sm "$tree" | cut -f1) MB," \
    "$(find "$tree" -type d | wc -l) folders"

now() { date +%s%N; }
fresh() { rm -rf "$work/$1" && cp -a "$tree" "$work/$1"; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b - a) / 1e9 }'; }

# Checks a report: every package, good ones done, broken ones refused or
# failed, orphans failed for their missing jar; on a rerun, the good ones
# left out as already signed.
check() {
    python3 - "$1" "$2" <<'PY'
import json, sys
records = json.load(open(sys.argv[1]))
rerun = sys.argv[2] == "rerun"
bad = []
if len(records) != 500:
    bad.append(f"{len(records)} records")
paths = [r["path"] for r in records]
if paths != sorted(paths):
    bad.append("not in input order")
for r in records:
    name = r["path"].rsplit("/", 1)[-1]
    if name.startswith(("game", "app")):
        ok = r["result"] == "done" and r["sha1"] and (r["reason_key"] == "already-signed") == rerun
        ok = ok and (r["certificate_sha1"] or name.startswith("app"))
    elif name.startswith("broken"):
        ok = r["result"] in ("refused", "failed") and r["reason_key"] and r["reason"]
    else:
        ok = r["result"] == "failed" and r["reason_key"] == "jar-missing"
    if not ok:
        bad.append(json.dumps(r, ensure_ascii=False))
counts = {}
for r in records:
    counts[r["result"]] = counts.get(r["result"], 0) + 1
print("  report:", ", ".join(f"{k} {v}" for k, v in sorted(counts.items())))
if bad:
    print("  wrong:", *bad[:5], sep="\n    ")
    sys.exit(1)
PY
}

run() { # name, then jarseal-cli's arguments; prints the seconds
    local name=$1
    shift
    local t0 t1
    t0=$(now)
    "$cli" --quiet --report "$work/$name.json" "$@" >"$work/$name.out" 2>"$work/$name.err" || true
    t1=$(now)
    seconds "$t0" "$t1"
}

# The shortest of REPEAT timings of each run: on a shared machine a timing
# is the job's own time plus whatever else ran meanwhile. Every first run
# has a fresh copy of the tree, all made and written out before any is timed
# (so that no run meets the file system just after a copy was deleted, nor
# waits in its flushes behind the copies' writeback), and the runs of
# --jobs 1 and --jobs 2 take turns. Each run's report is checked.
least() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }'; }
for ((r = 0; r < repeat; r++)); do
    fresh "one$r"
    fresh "two$r"
done
sync
t_one=""
t_two=""
for ((r = 0; r < repeat; r++)); do
    for jobs in 1 2; do
        name=$([[ $jobs == 1 ]] && echo one || echo two)
        t=$(run "$name$r" --jobs "$jobs" "$work/$name$r")
        check "$work/$name$r.json" first >"$work/$name.check" || { cat "$work/$name.check"; exit 1; }
        if [[ $jobs == 1 ]]; then t_one=$(least "$t" "$t_one"); else t_two=$(least "$t" "$t_two"); fi
    done
done
echo "--jobs 1:            $t_one s (least of $repeat)"
cat "$work/one.check"
echo "--jobs 2:            $t_two s (least of $repeat)"
cat "$work/two.check"
last=$((repeat - 1))

t_skip=""
for ((r = 0; r < repeat; r++)); do
    t=$(run skip --jobs 2 --skip-signed "$work/two$last")
    check "$work/skip.json" rerun >"$work/skip.check" || { cat "$work/skip.check"; exit 1; }
    t_skip=$(least "$t" "$t_skip")
done
echo "--skip-signed rerun: $t_skip s (least of $repeat)"
cat "$work/skip.check"

# Separate runs: every (500 / SAMPLE)th package of the list, each run alone.
fresh separate
sync
mapfile -t listed < <(python3 -c 'import json,sys; [print(r["path"]) for r in json.load(open(sys.argv[1]))]' "$work/one0.json")
step=$((500 / sample))
t0=$(now)
timed=0
for ((k = 0; k < 500; k += step)); do
    path="${listed[k]/#$work\/one0/$work/separate}"
    "$cli" --quiet "$path" >/dev/null 2>&1 || true
    timed=$((timed + 1))
done
t1=$(now)
t_sample=$(seconds "$t0" "$t1")
t_separate=$(awk -v s="$t_sample" -v n="$timed" 'BEGIN { printf "%.1f", s * 500 / n }')
echo "separate runs:       $t_sample s for $timed packages, $t_separate s scaled to 500"

awk -v one="$t_one" -v two="$t_two" -v sep="$t_separate" -v skip="$t_skip" 'BEGIN {
    best = one < two ? one : two
    printf "jobs 2 / jobs 1:          %.3f (target <= 0.6)\n", two / one
    printf "batch / separate runs:    %.4f (jobs 2; jobs 1: %.4f; target <= 0.015)\n", two / sep, one / sep
    printf "skip-signed / first run:  %.3f (target <= 0.1)\n", skip / two }'
