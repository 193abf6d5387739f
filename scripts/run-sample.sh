#!/usr/bin/env bash
# Installs what building needs when missing (scripts/deps.sh), builds the
# programs without the tests in build/, and runs the Java job on the bundled
# sample suite: build/sample/sample.jad is written next to the jar and shown.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJARSEAL_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
./build/jarseal-cli "$PWD/build/sample/sample.jar"
echo "--- build/sample/sample.jad ---"
cat build/sample/sample.jad
cat <<'END'
---
The window:  build/jarseal   (or open a suite: build/jarseal build/sample/sample.jar)
The console: build/jarseal-cli --help
Install for this user (menu entry, jarseal-cli in ~/.local/bin): scripts/install-user.sh
A portable program folder: cmake --install build --prefix FOLDER
A Debian package: scripts/make-deb.sh (see README, Installing)
END
