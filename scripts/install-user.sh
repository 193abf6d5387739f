#!/usr/bin/env bash
# Installs Jarseal for the current user: a portable program folder (default
# ~/.local/opt/jarseal, where the settings file next to the program stays
# writable), a menu entry that opens .jar, .jad, .sis and .sisx files with
# Jarseal, its icon, and jarseal-cli in ~/.local/bin.
#
# Usage: scripts/install-user.sh [--prefix FOLDER] [--build-dir DIR] [--no-build]
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="${HOME}/.local/opt/jarseal"
build="build"
compile=1
while [ $# -gt 0 ]; do
    case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --build-dir) build="$2"; shift 2 ;;
    --no-build) compile=0; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done
if [ "$compile" = 1 ]; then
    scripts/deps.sh
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJARSEAL_TESTS=OFF >/dev/null
    cmake --build "$build" -j"$(nproc)"
fi
cmake --install "$build" --prefix "$prefix" >/dev/null

apps="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
icons="${XDG_DATA_HOME:-$HOME/.local/share}/icons/hicolor/scalable/apps"
bin="$HOME/.local/bin"
mkdir -p "$apps" "$icons" "$bin"
cp "$prefix/jarseal.desktop" "$apps/jarseal.desktop"
cp "$prefix/jarseal.svg" "$icons/jarseal.svg"
ln -sf "$prefix/jarseal-cli" "$bin/jarseal-cli"
if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database "$apps" >/dev/null 2>&1 || true
fi
echo "Jarseal is installed in $prefix"
echo "  menu entry: $apps/jarseal.desktop (\"Open with Jarseal\" for .jar, .jad, .sis, .sisx)"
echo "  console:    $bin/jarseal-cli"
