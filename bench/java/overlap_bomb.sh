#!/usr/bin/env bash
# The Java job (jarseal-cli --permissions http, which would rewrite the jar's
# manifest) and jarseal-cli --check on the overlapping-entry bomb: prints
# each one's exit status, peak resident memory and what the package folder
# holds afterwards. Both must refuse the suite in bounded memory and write
# nothing beside it.
#
# Usage: bench/java/overlap_bomb.sh [BUILD_DIR]
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
[ -x "$build/jarseal-make-overlap-bomb" ] || { echo "build jarseal-make-overlap-bomb first" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/apps"
"$build/jarseal-make-overlap-bomb" "$work/apps/bomb.jar"
echo "bomb.jar: $(stat -c %s "$work/apps/bomb.jar") bytes"

measure() {
    local label="$1"
    shift
    local status=0
    /usr/bin/time -f "%M" -o "$work/rss" "$@" >"$work/out" 2>&1 || status=$?
    printf '%-32s exit %d, peak RSS %6.1f MB\n' "$label" "$status" "$(awk 'END {print $1 / 1024}' "$work/rss")"
    printf '  package folder: %s\n' "$(ls -A "$work/apps" | tr '\n' ' ')"
}
measure "job (--permissions http)" "$build/jarseal-cli" --permissions http "$work/apps/bomb.jar"
measure "--check" "$build/jarseal-cli" --check "$work/apps/bomb.jar"
