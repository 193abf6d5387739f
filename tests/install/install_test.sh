#!/usr/bin/env bash
# Checks the installed program folder and the per-user install as a new user
# gets them: layout, a key store of its own, a valid desktop entry, a working
# console program, and an uninstall that keeps the user's key.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src="$1"
build="$2"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export HOME="$home" XDG_DATA_HOME="$home/.local/share"
prefix="$home/.local/opt/jarseal"
"$src/scripts/install-user.sh" --no-build --build-dir "$build" --prefix "$prefix" >/dev/null

for f in jarseal-cli Jarseal.ini jarseal.desktop jarseal.svg data/jadtool.jar data/key data/symbian.cer data/symbian.key \
    data/locale/en/LC_MESSAGES/jarseal.mo data/locale/ru/LC_MESSAGES/jarseal.mo; do
    [ -e "$prefix/$f" ] || fail "missing $f"
done
[ -d "$prefix/data/temp" ] && [ -z "$(ls -A "$prefix/data/temp")" ] || fail "data/temp missing or not empty"
if [ -e "$build/jarseal" ]; then [ -x "$prefix/jarseal" ] || fail "missing jarseal"; fi
if [ -e "$build/data/signsis" ]; then [ -x "$prefix/data/signsis" ] || fail "missing data/signsis"; fi
cmp -s "$prefix/data/key" "$build/data/key" && fail "the key store was copied from the build"
grep -q "keystore=$prefix/data/key" "$prefix/Jarseal.ini" || fail "settings do not name the folder's key store"
grep -q "certificate=$prefix/data/symbian.cer" "$prefix/Jarseal.ini" || fail "settings do not name the Symbian certificate"
cmp -s "$prefix/data/symbian.key" "$build/data/symbian.key" && fail "the Symbian key was copied from the build"

entry="$home/.local/share/applications/jarseal.desktop"
[ -f "$entry" ] || fail "no menu entry"
grep -q "^Exec=\"$prefix/jarseal\" %f$" "$entry" || fail "menu entry does not start the installed program"
for type in application/java-archive text/vnd.sun.j2me.app-descriptor application/vnd.symbian.install x-epoc/x-sisx-app; do
    grep -q "^MimeType=.*$type;" "$entry" || fail "menu entry lacks $type"
done
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$entry" | grep 'error' >/dev/null && fail "desktop-file-validate: $(desktop-file-validate "$entry")"
fi
[ -f "$home/.local/share/icons/hicolor/scalable/apps/jarseal.svg" ] || fail "no icon"

# The sample holds the class MIDlet-1 names, in a class file version phones
# read (at most 49) and preverified (a StackMap attribute).
class="$(unzip -p "$build/sample/sample.jar" sample/SampleMIDlet.class | od -An -v -tx1 | tr -d ' \n')" ||
    fail "the sample jar has no sample/SampleMIDlet.class"
[ "$((16#${class:12:4}))" -le 49 ] || fail "sample/SampleMIDlet.class has class file version $((16#${class:12:4}))"
[[ "$class" == *0008537461636b4d6170* ]] || fail "sample/SampleMIDlet.class is not preverified (no StackMap)"
# The JAD tool runs on Java 8 and newer: every class of it has class file
# version 52 (Java 8), none a later one.
jadtool="$prefix/data/jadtool.jar"
versions="$(unzip -Z1 "$jadtool" | grep '\.class$' | while read -r name; do
    head="$(unzip -p "$jadtool" "$name" | od -An -N8 -v -tx1 | tr -d ' \n')"
    echo "$((16#${head:12:4})) $name"
done)"
[ -n "$versions" ] && ! grep -qv '^52 ' <<<"$versions" ||
    fail "data/jadtool.jar needs a Java newer than 8: class file versions ${versions:-none}"

# The installed console program signs the sample with the folder's own key.
mkdir "$home/apps"
cp "$build/sample/sample.jar" "$home/apps/"
"$home/.local/bin/jarseal-cli" --quiet "$home/apps/sample.jar" >/dev/null 2>&1 || fail "signing failed"
grep -q '^MIDlet-Jar-RSA-SHA1: ' "$home/apps/sample.jad" || fail "no signature"
"$home/.local/bin/jarseal-cli" --check --quiet "$home/apps/sample.jar" >/dev/null || fail "check refused the signed sample"
# Through the link, the installed program finds its catalogues: Russian and English runs
# (of a usage error, which ends with 64).
said="$(LC_ALL= LANG=ru_RU.UTF-8 "$home/.local/bin/jarseal-cli" --nonsense 2>&1 || true)"
[[ "$said" == *"неизвестный параметр"* ]] || fail "the Russian catalogue is not found: $said"
said="$(LC_ALL= LANG=C "$home/.local/bin/jarseal-cli" --nonsense 2>&1 || true)"
[[ "$said" == *"unknown option"* ]] || fail "no English text: $said"
# The Symbian sample signs with the folder's own certificate, no setting changed.
cp "$build/sample/sample.sis" "$home/apps/"
"$home/.local/bin/jarseal-cli" --quiet "$home/apps/sample.sis" >/dev/null 2>&1 || fail "the Symbian sample did not sign"
"$prefix/data/signsis" -o "$home/apps/sample.sis" | grep "verifies" >/dev/null || fail "the signed Symbian sample does not verify"
grep -q "^AppPath=$prefix" "$prefix/Jarseal.ini" || fail "start-up did not record the folder"

# A program folder this user may not write (a system-wide install): the
# settings, key store and working folder go to the user's own folders, and
# nothing is written into the program folder.
if [ "$(id -u)" = 0 ] && command -v su >/dev/null 2>&1; then
    ro="$(mktemp -d)"
    trap 'rm -rf "$home" "$ro"' EXIT
    chmod 755 "$ro"
    cmake --install "$build" --prefix "$ro/prog" >/dev/null
    before="$(find "$ro/prog" -printf '%p %s %T@\n' | sort)"
    user="$ro/home"
    mkdir -p "$user/apps"
    cp "$build/sample/sample.jar" "$build/sample/sample.sis" "$user/apps/"
    chown -R nobody "$user"
    su -s /bin/sh nobody -c "HOME='$user' XDG_CONFIG_HOME= XDG_DATA_HOME= TMPDIR='$user' \
        '$ro/prog/jarseal-cli' --quiet '$user/apps/sample.jar' '$user/apps/sample.sis'" >/dev/null 2>&1 ||
        fail "a user of a read-only install could not sign"
    grep -q '^MIDlet-Jar-RSA-SHA1: ' "$user/apps/sample.jad" || fail "read-only install: no signature"
    [ -f "$user/.local/share/jarseal/key" ] || fail "read-only install: no key store in the user's folder"
    [ -f "$user/.local/share/jarseal/symbian.key" ] || fail "read-only install: no Symbian key in the user's folder"
    grep -q "^keystore=$user/.local/share/jarseal/key" "$user/.config/jarseal/Jarseal.ini" ||
        fail "read-only install: the user's settings do not name the user's key store"
    [ "$(find "$ro/prog" -printf '%p %s %T@\n' | sort)" = "$before" ] || fail "read-only install: the program folder changed"
    ls -d "$user"/jarseal-* >/dev/null 2>&1 && fail "read-only install: the private working folder was left behind"
fi

"$src/scripts/uninstall-user.sh" --prefix "$prefix" >/dev/null
[ -e "$entry" ] && fail "menu entry left behind"
[ -e "$prefix/jarseal-cli" ] && fail "program left behind"
[ -f "$prefix/data/key" ] && [ -f "$prefix/Jarseal.ini" ] || fail "uninstall removed the user's key or settings"
"$src/scripts/uninstall-user.sh" --prefix "$prefix" --purge >/dev/null
[ -e "$prefix" ] && fail "purge left the folder"
echo "install test passed"
