#!/usr/bin/env bash
# Installs the Debian packages Jarseal needs to build and test, when missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-translations-l10n
    fonts-liberation # Liberation Sans Narrow, the font of the window
    libzip-dev zlib1g-dev libdeflate-dev libssl-dev
    default-jdk-headless
    libgtest-dev libgmock-dev
    zip unzip
    desktop-file-utils
    clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
