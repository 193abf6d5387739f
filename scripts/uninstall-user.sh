#!/usr/bin/env bash
# Removes what scripts/install-user.sh installed. The settings file and the
# key store of the program folder are the user's own (the key signs every
# suite) and stay unless --purge is given.
#
# Usage: scripts/uninstall-user.sh [--prefix FOLDER] [--purge]
set -euo pipefail
prefix="${HOME}/.local/opt/jarseal"
purge=0
while [ $# -gt 0 ]; do
    case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --purge) purge=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done
apps="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
icons="${XDG_DATA_HOME:-$HOME/.local/share}/icons/hicolor/scalable/apps"
rm -f "$apps/jarseal.desktop" "$icons/jarseal.svg"
if [ -L "$HOME/.local/bin/jarseal-cli" ]; then
    rm -f "$HOME/.local/bin/jarseal-cli"
fi
if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database "$apps" >/dev/null 2>&1 || true
fi
if [ -d "$prefix" ]; then
    rm -f "$prefix/jarseal" "$prefix/jarseal-cli" "$prefix/jarseal.desktop" "$prefix/jarseal.svg" \
        "$prefix/data/jadtool.jar" "$prefix/data/jadtool.jsa" "$prefix/data/signsis"
    rm -rf "$prefix/data/temp"
    if [ "$purge" = 1 ]; then
        rm -rf "$prefix"
        echo "Jarseal is removed, with its settings and key store."
    else
        rmdir "$prefix/data" "$prefix" 2>/dev/null || true
        echo "Jarseal is removed. Kept in $prefix: the settings file, the key store and the"
        echo "Symbian certificate and key"
        echo "(remove them with --purge)."
    fi
fi
