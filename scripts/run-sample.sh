#!/usr/bin/env bash
# Installs what is missing, builds Jarseal and runs the Java job on the
# bundled sample suite: build/sample/sample.jad is written next to the jar.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
./build/jarseal-cli "$PWD/build/sample/sample.jar"
echo "--- build/sample/sample.jad ---"
cat build/sample/sample.jad
