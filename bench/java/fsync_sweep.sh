#!/usr/bin/env bash
# Traces a Java job with a manifest rewrite (jarseal-cli --permissions http)
# under strace and checks that every rename or exchange that makes a file
# visible in the package folder comes after an fsync of the file renamed and
# is followed by an fsync of the folder: a card pulled or power lost after
# "Готово!" leaves no empty or old jar under the new descriptor. Prints each
# such rename with its verdict; exits 1 when one is not flushed.
#
# Usage: bench/java/fsync_sweep.sh [BUILD_DIR]
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
command -v strace >/dev/null || { echo "strace is needed (apt-get install strace)" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/suite/META-INF" "$work/suite/game" "$work/apps"
printf 'MIDlet-1: Game, , game.Main\r\nMIDlet-Name: Game\r\nMIDlet-Vendor: Acme\r\nMIDlet-Version: 1.0\r\nMicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\nMIDlet-Permissions: javax.microedition.io.Connector.sms\r\n' \
    >"$work/suite/META-INF/MANIFEST.MF"
printf 'CAFEBABE' >"$work/suite/game/Main.class"
(cd "$work/suite" && zip -q -r "$work/apps/game.jar" META-INF game)
printf 'MIDlet-Name: Game\r\n' >"$work/apps/game.jad"
status=0
strace -f -y -e trace=fsync,fdatasync,rename,renameat,renameat2 -o "$work/trace" \
    "$build/jarseal-cli" --permissions http "$work/apps/game.jad" >"$work/out" 2>&1 || status=$?
echo "job exit $status"
awk -v folder="$work/apps" '
    / (fsync|fdatasync)\(/ && /= 0$/ {
        match($0, /<[^>]*>/); flushed[substr($0, RSTART + 1, RLENGTH - 2)] = NR
        if (pending != "" && substr($0, RSTART + 1, RLENGTH - 2) == folder) { print "  folder flushed after " pending; pending = "" }
    }
    / rename(at2?)?\(/ && /= 0$/ {
        n = split($0, q, "\""); from = q[2]; to = q[4]
        if (index(to, folder "/") != 1 || to ~ /\/\.[^\/]*$/) next
        ok = (from in flushed); bad += !ok
        printf "%s %s -> %s\n", ok ? "flushed" : "NOT FLUSHED", from, to
        if (pending != "") { print "  NO FOLDER FLUSH after " pending; bad++ }
        pending = to
    }
    END { if (pending != "") { print "  NO FOLDER FLUSH after " pending; bad++ } exit bad > 0 }
' "$work/trace"
