#!/usr/bin/env bash
# Checks the documents that an install carries: the manual pages format
# without warnings and name every option of jarseal-cli, the AppStream
# metainfo validates, versions agree with the build's, and the bash completion
# offers the options, the --permissions values and only packages and folders.
# A check whose tool is missing is skipped.
# Usage: docs_test.sh SOURCE_DIR
set -euo pipefail
src="$(cd "${1:-$(dirname "$0")/../..}" && pwd)"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
skip() { echo "skipped: $*"; }

pages=("$src/doc/jarseal.1" "$src/doc/jarseal-cli.1")
metainfo="$src/desktop/io.github.jarseal.Jarseal.metainfo.xml"
completion="$src/completion/jarseal-cli.bash"
version="$(sed -n 's/^project(Jarseal VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")"
[ -n "$version" ] || fail "no version in CMakeLists.txt"

# The options of jarseal-cli, as its help text lists them, and --version.
mapfile -t options < <({ sed -n 's/^ *\(JARSEAL_N(\)\{0,1\}"  \(--[a-z-]*\).*/\2/p' "$src/src/app/BatchHelp.cpp"; echo --version; } | sort -u)
[ "${#options[@]}" -ge 6 ] || fail "could not read the options from BatchHelp.cpp (${options[*]})"

# Manual pages.
for page in "${pages[@]}"; do
    grep -q "^\.TH .* \"Jarseal $version\"" "$page" || fail "$page: .TH does not say Jarseal $version"
    if command -v groff >/dev/null 2>&1; then
        out="$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null)"
        [ -z "$out" ] || fail "groff warns on $page: $out"
    else
        skip "groff not installed"
    fi
    if command -v mandoc >/dev/null 2>&1; then
        out="$(mandoc -Tlint -Wwarning "$page" 2>&1)" || fail "mandoc -Tlint on $page: $out"
    fi
done
for option in "${options[@]}"; do
    grep -q -- "^\.[A-Z]* *${option//-/\\\\-}\b" "$src/doc/jarseal-cli.1" ||
        fail "jarseal-cli.1 does not document $option"
done
grep -q -- '\\-\\-version' "$src/doc/jarseal.1" || fail "jarseal.1 does not document --version"

# AppStream metainfo.
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo has no release $version"
if command -v appstreamcli >/dev/null 2>&1; then
    out="$(appstreamcli validate --no-net "$metainfo" 2>&1)" || fail "appstreamcli validate: $out"
else
    skip "appstreamcli not installed"
fi

# Bash completion: the completion function run as bash would run it.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/sub" "$work/notes.jar.d"
touch "$work/a.jar" "$work/b.jad" "$work/c.sis" "$work/d.sisx" "$work/e.txt" "$work/with space.jar" \
    "$work/-x.jar" "$work/sub/f.jar" "$work/sub/g.zip"
cat >"$work/run.sh" <<'SCRIPT'
set -e
source "$1"
shift
COMP_WORDS=(jarseal-cli "$@")
COMP_CWORD=$(($# ))
_jarseal_cli
printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
SCRIPT
complete_words() { (cd "$work" && bash "$work/run.sh" "$completion" "$@"); }
expect() {
    local want="$1" got
    shift
    got="$(complete_words "$@" | paste -sd' ')"
    [ "$got" = "$want" ] || fail "completing '$*': got '$got', want '$want'"
    echo "completing '$*': $got"
}
got="$(complete_words -)"
for option in "${options[@]}"; do
    grep -qx -- "$option" <<<"$got" || fail "completion does not offer $option"
done
expect "--passphrase --permissions" --p
expect "env:" --storepass e
expect "--version" --v
expect "PIM PushRegestry" --permissions p
expect "auto" --permissions A
expect "http,https" --permissions http,h
expect "http,SMS http,socket http,socketserver http,ssl" --permissions http,S
expect "read,write" --permissions read,w
expect "--permissions=PushRegestry" --permissions=pu
expect "none" --permissions = n
expect "" --zip-password ""
expect "-x.jar a.jar b.jad c.sis d.sisx notes.jar.d sub with space.jar" ""
expect "sub/f.jar" sub/
expect "-x.jar" -- -
[ "$(complete_words --permissions "" | wc -l)" -eq 16 ] || fail "--permissions should offer auto, none and 14 groups"

if [ "$failures" -ne 0 ]; then
    echo "$failures failed" >&2
    exit 1
fi
echo "docs test passed"
