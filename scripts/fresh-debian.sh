#!/usr/bin/env bash
# Tries the README's first command on fresh Debian, as a new user would: for
# each release asked it makes a minimal root with debootstrap, copies the
# project into it, runs scripts/run-sample.sh there as root (timed), and checks
# that the signed descriptor was printed. Prints each release's result and wall
# time; exits non-zero when one failed. CI does not run it: it needs root, Debian's
# mirror and some 3 GB per release, and takes 5 to 10 minutes per release.
#
#   scripts/fresh-debian.sh [12|13|both] [--from DIR] [--work DIR] [--keep]
#     12, 13, both  the releases: bookworm, trixie, or both (the default)
#     --from DIR    the project tree to copy (default: this one, with its
#                   uncommitted changes; build folders and .git are left out)
#     --work DIR    where the roots and logs go (default /var/tmp/jarseal-fresh)
#     --keep        keep each root (unmounted) instead of removing it
# JARSEAL_MIRROR names another Debian mirror (default http://deb.debian.org/debian).
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
from="$here"
work="/var/tmp/jarseal-fresh"
keep=0
which="both"
mirror="${JARSEAL_MIRROR:-http://deb.debian.org/debian}"
while [ $# -gt 0 ]; do
    case "$1" in
    12 | 13 | both) which="$1"; shift ;;
    --from) from="$(cd "$2" && pwd)"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "fresh-debian.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
case "$which" in
12) suites=(bookworm) ;;
13) suites=(trixie) ;;
both) suites=(bookworm trixie) ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "fresh-debian.sh: run it as root (debootstrap, chroot and mount need root)" >&2; exit 1; }
[ -x "$from/scripts/run-sample.sh" ] || { echo "fresh-debian.sh: $from has no scripts/run-sample.sh" >&2; exit 1; }

if ! command -v debootstrap >/dev/null 2>&1; then
    echo "Installing debootstrap"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi
mkdir -p "$work"
work="$(cd "$work" && pwd)"

# The mount points at or below $1, deepest first.
mounts_under() {
    awk -v r="$1" '$2 == r || index($2, r "/") == 1 { print $2 }' /proc/mounts | sort -r
}
unmount_under() {
    local m
    for m in $(mounts_under "$1"); do
        umount "$m" 2>/dev/null || umount -l "$m" || true
    done
}
# Removes a root only when nothing is mounted in it any more.
remove_root() {
    local root="$1"
    [ -e "$root" ] || return 0
    unmount_under "$root"
    if [ -n "$(mounts_under "$root")" ]; then
        echo "fresh-debian.sh: still mounted, $root is not removed:" >&2
        mounts_under "$root" >&2
        return 1
    fi
    rm -rf --one-file-system "$root"
}

current_root=""
on_exit() {
    if [ -n "$current_root" ]; then
        unmount_under "$current_root"
        [ "$keep" = 1 ] || remove_root "$current_root" || true
    fi
}
trap on_exit EXIT
trap 'exit 130' INT TERM

# The project's files: tracked and untracked ones that git does not ignore,
# or, outside git, everything but build folders.
copy_project() {
    local dest="$1"
    mkdir -p "$dest"
    if git -C "$from" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        (cd "$from" && git ls-files -z --cached --others --exclude-standard |
            while IFS= read -r -d '' f; do [ -e "$f" ] || [ -L "$f" ] && printf '%s\0' "$f"; done |
            tar --null -T - -cf -) | tar -xf - -C "$dest"
    else
        (cd "$from" && tar --exclude='./build*' --exclude=./.git -cf - .) | tar -xf - -C "$dest"
    fi
}

minutes() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

results=()
status=0
for suite in "${suites[@]}"; do
    case "$suite" in bookworm) release="Debian 12 (bookworm)" ;; trixie) release="Debian 13 (trixie)" ;; esac
    root="$work/$suite"
    log="$work/$suite.log"
    echo "=== $release: debootstrap into $root (log $work/$suite-debootstrap.log)"
    remove_root "$root"
    current_root="$root"
    start=$SECONDS
    if ! debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$work/$suite-debootstrap.log" 2>&1; then
        tail -n 20 "$work/$suite-debootstrap.log"
        results+=("$release: FAILED, debootstrap did not finish (see $work/$suite-debootstrap.log)")
        status=1
        unmount_under "$root"
        [ "$keep" = 1 ] || remove_root "$root"
        current_root=""
        continue
    fi
    boot_time=$((SECONDS - start))

    # No services start inside the root; names resolve as on this machine.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    copy_project "$root/root/jarseal"

    mount -t proc proc "$root/proc"
    mount --bind /dev "$root/dev"
    mkdir -p "$root/dev/pts"
    mount --bind /dev/pts "$root/dev/pts"

    echo "=== $release: scripts/run-sample.sh as root in the new root (log $log)"
    start=$SECONDS
    rc=0
    chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c 'cd /root/jarseal && scripts/run-sample.sh' </dev/null >"$log" 2>&1 || rc=$?
    took=$((SECONDS - start))

    # What the window would find on that release: Qt's X11 plugin, its font.
    window="window: Qt xcb plugin"
    chroot "$root" /bin/sh -c 'ls /usr/lib/*/qt6/plugins/platforms/libqxcb.so' >/dev/null 2>&1 || window="$window MISSING"
    if chroot "$root" /bin/sh -c 'fc-list | grep -q "Liberation Sans Narrow"' >/dev/null 2>&1; then
        window="$window, Liberation Sans Narrow"
    else
        window="$window, Liberation Sans Narrow MISSING"
    fi
    {
        echo "--- after the run: $window"
        chroot "$root" /bin/sh -c 'dpkg-query -W -f="\${Package} \${Version}\n" fonts-liberation fonts-liberation-sans-narrow qt6-base-dev default-jdk-headless cmake g++ 2>/dev/null || true'
    } >>"$log" 2>&1 || true

    if [ "$rc" = 0 ] && grep -q '^MIDlet-Jar-RSA-SHA1: ' "$log"; then
        results+=("$release: PASSED, scripts/run-sample.sh took $(minutes "$took") (debootstrap before it $(minutes "$boot_time")); $window")
    else
        tail -n 30 "$log"
        results+=("$release: FAILED (exit $rc$(grep -q 'MIDlet-Jar-RSA-SHA1' "$log" || echo ', no signed descriptor printed')) after $(minutes "$took"), see $log")
        status=1
    fi
    echo "${results[-1]}"

    unmount_under "$root"
    if [ "$keep" = 1 ]; then
        echo "kept: $root"
    else
        remove_root "$root"
    fi
    current_root=""
done

echo "=== Results"
printf '%s\n' "${results[@]}"
echo "Logs: $work"
exit "$status"
