#!/usr/bin/env bash
# Installs the Debian packages Jarseal needs, when missing (Debian 12 and 13).
#   scripts/deps.sh          what building the programs and running them needs
#   scripts/deps.sh --tests  that, and what the tests, the benchmarks and the
#                            fuzz targets add (googletest, zip, unzip, exFAT, clang)
# Runs apt-get itself when root, through sudo otherwise; without sudo it names
# the missing packages and stops.
set -euo pipefail

tests=0
case "${1:-}" in
"") ;;
--tests) tests=1 ;;
-h | --help)
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
*)
    echo "deps.sh: unknown option $1 (expected nothing or --tests)" >&2
    exit 2
    ;;
esac

build_packages=(
    build-essential cmake pkg-config
    libzip-dev zlib1g-dev libdeflate-dev libssl-dev
    openssl # makes the default Symbian certificate and key
    gettext # msgfmt compiles the console program's catalogues (po/)
    default-jdk-headless  # builds the JAD tool, the key store and the sample MIDlet; runs the JAD tool
    proguard-cli          # preverifies the sample MIDlet for phones
    qt6-base-dev          # the window
    qt6-translations-l10n # Qt's own texts of the window in Russian
    dpkg-dev file         # scripts/make-deb.sh: the hardening flags, and the package's library dependencies
)
# The window's font, Liberation Sans Narrow, comes with fonts-liberation on
# Debian 12 and with fonts-liberation-sans-narrow on Debian 13 (whose
# fonts-liberation no longer has it). Chosen below.
test_packages=(
    libgtest-dev libgmock-dev
    zip unzip          # the benchmarks: zip makes suites, unzip is timed
    desktop-file-utils # the install test checks the menu entry
    exfatprogs exfat-fuse # a memory card's file system for the tests of jobs on one
)
# The fuzz targets need clang with its sanitizer and libFuzzer runtime: the
# release's default clang where it has one (clang, libclang-rt-dev), else its
# newest versioned pair (clang-N, libclang-rt-N-dev). Chosen below.

# grep reads its whole input here: "grep -q" would stop at the first match,
# and under pipefail the writer's broken pipe would turn a match into a miss.
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep 'install ok installed' >/dev/null; }
available() { LC_ALL=C apt-cache policy "$1" 2>/dev/null | grep -E '^ *Candidate: [0-9]' >/dev/null; }

# The first clang pair for which the test $1 ("installed" or "available")
# holds: the release's default pair (clang, libclang-rt-dev), else the
# newest versioned one among the libclang-rt-N-dev names on standard input.
fuzz_compiler() {
    local test="$1" versions v
    versions="$(sed -n 's/^libclang-rt-\([0-9][0-9]*\)-dev$/\1/p' | sort -rn)"
    if "$test" clang && "$test" libclang-rt-dev; then
        echo "clang libclang-rt-dev"
        return 0
    fi
    for v in $versions; do
        if "$test" "clang-$v" && "$test" "libclang-rt-$v-dev"; then
            echo "clang-$v libclang-rt-$v-dev"
            return 0
        fi
    done
    return 1
}

# The clang pair already installed, if any.
installed_fuzz_compiler() {
    { dpkg-query -W -f='${Package}\n' 'libclang-rt-*-dev' 2>/dev/null || true; } | fuzz_compiler installed
}

# Whether an installed package has Liberation Sans Narrow.
narrow_font_installed() { dpkg-query -S '*/LiberationSansNarrow-Regular.ttf' >/dev/null 2>&1; }

# The package of the window's font on this release (needs current package lists).
offered_narrow_font() {
    if available fonts-liberation-sans-narrow; then
        echo fonts-liberation-sans-narrow
    else
        echo fonts-liberation
    fi
}

# The clang pair this release offers (needs current package lists).
offered_fuzz_compiler() { { apt-cache pkgnames libclang-rt- 2>/dev/null || true; } | fuzz_compiler available; }

packages=("${build_packages[@]}")
[ "$tests" = 1 ] && packages+=("${test_packages[@]}")
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
need_font=0
narrow_font_installed || need_font=1
need_clang=0
if [ "$tests" = 1 ] && ! installed_fuzz_compiler >/dev/null; then
    need_clang=1
fi
[ ${#missing[@]} -eq 0 ] && [ "$need_font" = 0 ] && [ "$need_clang" = 0 ] && exit 0

self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
again="$self${1:+ $1}"
if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    named=("${missing[@]}")
    [ "$need_font" = 1 ] && named+=("fonts-liberation (Debian 12) or fonts-liberation-sans-narrow (Debian 13)")
    [ "$need_clang" = 1 ] && named+=("clang libclang-rt-dev (or clang-N libclang-rt-N-dev)")
    {
        echo "These Debian packages are missing:"
        echo "  ${named[*]}"
        echo "Installing them needs root, and sudo is not installed. Run as root:"
        echo "  su -c '$again'"
        echo "(or install sudo and give yourself the right to use it), then run this command again."
    } >&2
    exit 1
fi

run_root() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive "$@"; }

run_root apt-get update -qq
[ "$need_font" = 1 ] && missing+=("$(offered_narrow_font)")
if [ "$need_clang" = 1 ]; then
    if ! pair="$(offered_fuzz_compiler)"; then
        echo "deps.sh: this release offers no clang with libclang-rt (clang + libclang-rt-dev, or clang-N + libclang-rt-N-dev)" >&2
        exit 1
    fi
    read -r -a pair_packages <<<"$pair"
    for p in "${pair_packages[@]}"; do
        installed "$p" || missing+=("$p")
    done
fi
echo "Installing: ${missing[*]}"
run_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
