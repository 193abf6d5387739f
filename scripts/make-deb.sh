#!/usr/bin/env bash
# Builds the Debian package of Jarseal for the release this machine runs:
# build-deb/jarseal_VERSION_ARCH.deb, to be installed with
#   apt install ./build-deb/jarseal_*.deb        (as root; or with sudo before it)
# The programs are built with Debian's hardening flags (dpkg-buildflags, all of
# them, bind-now included), as Debian's own packages are.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# CMake takes no CPPFLAGS: the preprocessor's flags (_FORTIFY_SOURCE) go with
# the compiler's.
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJARSEAL_TESTS=OFF -DJARSEAL_DEB=ON \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build build-deb -j"$(nproc)"
(cd build-deb && cpack -G DEB)
ls build-deb/jarseal_*.deb
