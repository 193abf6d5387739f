#!/usr/bin/env bash
# Tries the README's commands on fresh Debian, as a new user would: for each
# release asked it makes a minimal root with debootstrap, copies the project
# into it and runs there, each step timed:
#   1. scripts/run-sample.sh as root (the signed descriptor must be printed);
#   2. scripts/test.sh as root (every test passes, no fuzz finding);
#   3. scripts/make-deb.sh as root, and lintian -I on the package;
#   4. apt install of the package, as root without sudo;
#   5. a user who is not root signs the sample suite and Symbian package with
#      the installed jarseal-cli (settings in ~/.config/jarseal);
#   6. apt remove, which must leave none of the package's files.
# Prints each step's result and wall time, the test totals, the fuzz lines and
# the compiler warnings; exits non-zero when a step failed. CI does not run it:
# it needs root, Debian's mirror and some 5 GB per release, and takes 20 to 40
# minutes per release on two cores.
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
    -h | --help) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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

# Runs a command in the root as root, with a clean environment, in the
# project's folder; its output goes to the step's log.
in_root() {
    chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb DEBIAN_FRONTEND=noninteractive \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c "cd /root/jarseal && $1" </dev/null
}
# The same as the user $user, in the user's home; no sudo in the root.
user="jarseal-user"
as_user() {
    chroot --userspec="$user:$user" "$root" /usr/bin/env -i HOME="/home/$user" USER="$user" LOGNAME="$user" \
        LANG=C.UTF-8 TERM=dumb PATH=/usr/local/bin:/usr/bin:/bin \
        /bin/bash -c "cd && $1" </dev/null
}

# step NAME CHECK COMMAND: runs COMMAND (a bash line, as root in the root)
# into $work/$suite-NAME.log, times it, then runs the shell function CHECK on
# the log. Adds the step's line to the release's lines; fails when either did.
step() {
    local name="$1" check="$2" command="$3" log="$work/$suite-$1.log" rc=0 start=$SECONDS took
    echo "--- $release: $name (log $log)"
    in_root "$command" >"$log" 2>&1 || rc=$?
    took=$((SECONDS - start))
    if [ "$rc" = 0 ] && "$check" "$log"; then
        note "  $name: passed in $(minutes "$took")"
        return 0
    fi
    tail -n 40 "$log"
    note "  $name: FAILED (exit $rc) after $(minutes "$took"), see $log"
    status=1
    failed=1
    return 1
}
# Records a line of the release's result and shows it at once.
note() {
    lines+=("$1")
    echo "$1"
}
no_check() { true; }
descriptor_printed() { grep -q '^MIDlet-Jar-RSA-SHA1: ' "$1"; }
# Both ctest runs reported, with no failure.
tests_passed() {
    [ "$(grep -c '^100% tests passed, 0 tests failed out of [0-9]*' "$1")" = 2 ] && grep -q '^No findings\.' "$1"
}
package_built() { grep -q 'jarseal_.*\.deb$' "$1"; }
# None of the package's files or its own folders is left (the user's own are).
nothing_left() {
    local f left=0
    while IFS= read -r f; do
        if [ -L "$root$f" ] || { [ -e "$root$f" ] && [ ! -d "$root$f" ]; }; then
            echo "left: $f" >>"$1"
            left=1
        fi
    done <"$root/tmp/jarseal-files"
    for f in /usr/lib/jarseal /usr/share/doc/jarseal; do
        [ ! -e "$root$f" ] || { echo "left: $f" >>"$1"; left=1; }
    done
    [ "$left" = 0 ]
}
no_hardening_tag() { ! grep -E '^[EWIPX]: .*hardening' "$1"; }

# The figures of a test log: the two ctest totals, skipped tests, the fuzz lines.
test_figures() {
    local log="$1"
    grep -E 'tests passed, [0-9]+ tests failed out of|^Total Test time' "$1" |
        awk 'BEGIN { n = 0 } /tests passed/ { n++; kind = n == 1 ? "normal build" : "sanitizer build"; print "    " kind ": " $0; next } { print "      " $0 }'
    echo "    skipped (the two builds together): $(grep -c '\*\*\*Skipped' "$log" || true)"
    awk '/^=== fuzz_/ { target = $2 } /^Done [0-9]+ runs/ { print "    " target ": " $0 } /^No findings|^Findings in/ { print "    " $0 }' "$log"
}
# The compiler's and the linker's warnings in the logs of the steps that
# build, kept in $work/$suite-warnings.txt; prints their number.
warnings() {
    cat "$@" 2>/dev/null | grep -E ':[0-9]+(:[0-9]+)?: warning:|/ld: warning:' >"$work/$suite-warnings.txt" || true
    wc -l <"$work/$suite-warnings.txt"
}

# The user's part: sign the sample suite and package with the installed
# program, then check the signed descriptor and the package as a phone would.
user_signs() {
    as_user 'set -e
        command -v jarseal-cli
        jarseal-cli sample.jar sample.sis
        grep "^MIDlet-Jar-RSA-SHA1: " sample.jad >/dev/null
        jarseal-cli --check sample.jad sample.sis
        ls -l .config/jarseal/Jarseal.ini .local/share/jarseal'
}

results=()
status=0
for suite in "${suites[@]}"; do
    case "$suite" in bookworm) release="Debian 12 (bookworm)" ;; trixie) release="Debian 13 (trixie)" ;; esac
    root="$work/$suite"
    lines=()
    failed=0
    echo "=== $release: debootstrap into $root (log $work/$suite-debootstrap.log)"
    remove_root "$root"
    current_root="$root"
    release_start=$SECONDS
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
    note "  debootstrap: $(minutes $((SECONDS - start)))"

    # No services start inside the root; names resolve as on this machine.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    copy_project "$root/root/jarseal"

    mount -t proc proc "$root/proc"
    mount --bind /dev "$root/dev"
    mkdir -p "$root/dev/pts"
    mount --bind /dev/pts "$root/dev/pts"

    # The README's two commands.
    step run-sample descriptor_printed 'scripts/run-sample.sh' || true
    window="window: Qt xcb plugin"
    in_root 'ls /usr/lib/*/qt6/plugins/platforms/libqxcb.so' >/dev/null 2>&1 || window="$window MISSING"
    if in_root 'fc-list | grep "Liberation Sans Narrow" >/dev/null' >/dev/null 2>&1; then
        window="$window, Liberation Sans Narrow"
    else
        window="$window, Liberation Sans Narrow MISSING"
    fi
    note "    $window"
    step test tests_passed 'scripts/test.sh' || true
    mapfile -t figures < <(test_figures "$work/$suite-test.log")
    for f in "${figures[@]}"; do note "$f"; done

    # The package: built, checked, installed, used by a user, removed.
    if step make-deb package_built 'scripts/make-deb.sh'; then
        step lintian no_hardening_tag 'apt-get install -y -qq --no-install-recommends lintian >/dev/null || exit 1
            lintian -I build-deb/jarseal_*.deb; echo "lintian exit $?"' || true
        note "    lintian -I tags: $(grep -cE '^[EWIPX]: ' "$work/$suite-lintian.log" || true) ($(grep -cE '^[EWIPX]: .*hardening' "$work/$suite-lintian.log" || true) on hardening)"
        if step install no_check 'apt install -y ./build-deb/jarseal_*.deb && test ! -e /usr/bin/sudo'; then
            in_root "useradd -m -s /bin/bash $user && cp build-deb/sample/sample.jar build-deb/sample/sample.sis /home/$user/ &&
                chown $user:$user /home/$user/sample.jar /home/$user/sample.sis" >/dev/null
            log="$work/$suite-user.log"
            echo "--- $release: jarseal-cli as $user (log $log)"
            start=$SECONDS
            if user_signs >"$log" 2>&1; then
                note "  user signs sample.jar and sample.sis: passed in $(minutes $((SECONDS - start)))"
            else
                tail -n 40 "$log"
                note "  user signs sample.jar and sample.sis: FAILED after $(minutes $((SECONDS - start))), see $log"
                status=1
                failed=1
            fi
            step remove nothing_left "dpkg-query -L jarseal >/tmp/jarseal-files && apt remove -y jarseal &&
                ls -A /home/$user/.config/jarseal /home/$user/.local/share/jarseal" || true
        fi
    fi
    note "  compiler warnings: $(warnings "$work/$suite-run-sample.log" "$work/$suite-test.log" "$work/$suite-make-deb.log")"

    verdict=PASSED
    [ "$failed" = 0 ] || verdict=FAILED
    results+=("$release: $verdict in $(minutes $((SECONDS - release_start)))" "${lines[@]}")
    echo "$release: $verdict"

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
