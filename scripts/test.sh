#!/usr/bin/env bash
# Installs what is missing (scripts/deps.sh --tests: the build's packages,
# googletest, zip, unzip, clang), then builds and runs every test twice: a normal
# build, and one with AddressSanitizer and UndefinedBehaviorSanitizer; then
# runs each fuzz target briefly (FUZZ_SECONDS, default 30) from its seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
jobs="$(nproc)"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJARSEAL_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DJARSEAL_SANITIZE=ON -DJARSEAL_TESTS=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j"$jobs")

scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
