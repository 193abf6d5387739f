#!/usr/bin/env bash
# Signs N suites of about 100 KB twice, side by side: once as N separate
# jarseal-cli runs (one suite each, two JAD tool processes per suite) and once
# as one jarseal-cli run on all of them (one JAD tool process for the batch).
# Prints both times and their ratio, and fails unless every descriptor of the
# batch is byte for byte the one its separate run wrote.
# Usage: bench/java/batch.sh [BUILD_DIR] [N]     (N defaults to 200; try 20)
# Environment: ROUNDS=k repeats both measurements k times and reports the
# medians (default 1); KB=size sets the suites' size in KB (default 100).
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
n="${2:-200}"
rounds="${ROUNDS:-1}"
kb="${KB:-100}"
cli="$build/jarseal-cli"
[[ -x "$cli" && -f "$build/data/jadtool.jar" ]] || { echo "no jarseal-cli or data/jadtool.jar in $build" >&2; exit 1; }
command -v zip >/dev/null || { echo "zip is needed to make the suites" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The suites: a manifest each and incompressible content, so the archive is
# about KB kilobytes.
mkdir -p "$work/make/META-INF" "$work/make/game" "$work/suites"
head -c 2048 /dev/urandom >"$work/make/game/Main.class" # the class MIDlet-1 names
for i in $(seq -w 1 "$n"); do
    printf 'Manifest-Version: 1.0\r\nMIDlet-1: Game %s, /icon.png, game.Main\r\nMIDlet-Name: Game %s\r\nMIDlet-Vendor: Bench\r\nMIDlet-Version: 1.0.%d\r\nMicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\nMIDlet-Permissions: javax.microedition.io.Connector.http\r\n\r\n' \
        "$i" "$i" "$((10#$i))" >"$work/make/META-INF/MANIFEST.MF"
    head -c "$((kb * 1024 - 600))" /dev/urandom >"$work/make/data.bin"
    (cd "$work/make" && zip -q -X -r "$work/suites/game$i.jar" META-INF game data.bin)
    rm -f "$work/make/data.bin"
done
echo "suites: $n of $(du -k "$work/suites/game$(seq -w 1 "$n" | head -1).jar" | cut -f1) KB"

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
fresh() { rm -rf "$work/$1" && cp -r "$work/suites" "$work/$1"; }

separate=() batch=()
for _ in $(seq "$rounds"); do
    fresh separate
    t0=$(now)
    for jar in "$work"/separate/*.jar; do
        "$cli" --quiet "$jar" >/dev/null 2>&1 || { echo "separate run failed: $jar" >&2; exit 1; }
    done
    t1=$(now)
    separate+=($(((t1 - t0) / 1000)))

    fresh batch
    t0=$(now)
    "$cli" --quiet "$work"/batch/*.jar >/dev/null 2>"$work/batch.log" ||
        { cat "$work/batch.log" >&2; echo "batch run failed" >&2; exit 1; }
    t1=$(now)
    batch+=($(((t1 - t0) / 1000)))

    differing=0
    for jad in "$work"/separate/*.jad; do
        name="$(basename "$jad")"
        cmp -s "$jad" "$work/batch/$name" || { echo "differs: $name" >&2; differing=$((differing + 1)); }
    done
    count=$(ls "$work"/batch/*.jad | wc -l)
    [[ $differing -eq 0 && $count -eq $n ]] || { echo "$differing of $n descriptors differ ($count written)" >&2; exit 1; }
done

ms=$(printf '%s\n' "${separate[@]}" | median)
mb=$(printf '%s\n' "${batch[@]}" | median)
awk -v s="$ms" -v b="$mb" -v n="$n" -v r="$rounds" 'BEGIN {
    printf "rounds: %d (medians)\n", r
    printf "%d separate runs:   %9.1f ms (%.1f ms a suite)\n", n, s/1000, s/1000/n
    printf "one batch run:      %9.1f ms (%.1f ms a suite)\n", b/1000, b/1000/n
    printf "batch / separate:   %9.3f\n", b/s
    printf "descriptors: all %d byte-identical\n", n }'
