#!/usr/bin/env bash
# The Java job on a sound suite whose earlier descriptor is 512 MiB (a file
# someone named .jad by mistake): prints the job's exit status, its peak
# resident memory and its notes. The job must sign in memory far below the
# descriptor's size (under 100 MB), keep the earlier descriptor whole as
# game.jad.original and say that it was too large to read for attributes.
#
# Usage: bench/java/large_descriptor.sh [BUILD_DIR] [MIB]
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
mib="${2:-512}"
[ -x "$build/jarseal-cli" ] || { echo "build jarseal-cli first" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/apps/game" "$work/prog/data/temp"
# A program folder of its own, so the build's settings stay as they are.
cp "$build/jarseal-cli" "$work/prog/"
ln -s "$build/data/jadtool.jar" "$work/prog/data/jadtool.jar"
ln -s "$build/data/key" "$work/prog/data/key"
printf '[Jarseal]\r\nFirstRun=0\r\nAppPath=%s\r\n[Java]\r\nkeystore=%s\r\nstorepass=52039871\r\nkeypass=52039871\r\nalias1=jsk\r\nalias2=jsk\r\n' \
    "$work/prog" "$work/prog/data/key" >"$work/prog/Jarseal.ini"
printf 'MIDlet-1: Game, , game.Main\r\nMIDlet-Name: Game\r\nMIDlet-Vendor: Acme\r\nMIDlet-Version: 1.0\r\nMicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\n' \
    >"$work/manifest"
printf 'CAFEBABE' >"$work/apps/game/Main.class"
(cd "$work/apps" && mkdir -p META-INF && cp "$work/manifest" META-INF/MANIFEST.MF &&
    zip -q -r game.jar META-INF game && rm -r META-INF game)
{ printf 'MIDlet-Name: Game\r\nUnlock-Key: 1234\r\n'; head -c "$((mib * 1024 * 1024))" /dev/zero | tr '\0' 'x'; } \
    >"$work/apps/game.jad"
size="$(stat -c %s "$work/apps/game.jad")"
status=0
/usr/bin/time -f "%M" -o "$work/rss" "$work/prog/jarseal-cli" "$work/apps/game.jar" >"$work/out" 2>&1 || status=$?
rss_mb="$(awk 'END {printf "%.1f", $1 / 1024}' "$work/rss")"
echo "earlier descriptor: $size bytes; job exit $status, peak RSS $rss_mb MB"
grep -a 'МБ' "$work/out" | cut -c1-200 || true
[ "$(stat -c %s "$work/apps/game.jad.original")" = "$size" ] || { echo "the backup is not whole" >&2; exit 1; }
[ "$status" = 0 ] || { echo "the job failed:" >&2; cut -c1-300 "$work/out" >&2; exit 1; }
awk -v rss="$rss_mb" 'BEGIN { exit !(rss < 100) }' || { echo "peak RSS $rss_mb MB is not under 100 MB" >&2; exit 1; }
