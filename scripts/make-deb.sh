#!/usr/bin/env bash
# Builds the Debian package of Jarseal for the release this machine runs:
# build-deb/jarseal_VERSION_ARCH.deb, to be installed with
#   apt install ./build-deb/jarseal_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJARSEAL_TESTS=OFF -DJARSEAL_DEB=ON \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-deb -j"$(nproc)"
(cd build-deb && cpack -G DEB)
ls build-deb/jarseal_*.deb
