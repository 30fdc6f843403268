#!/usr/bin/env bash
# The fresh-machine check: what a new user meets on a minimal Debian 12 system.
#
# Makes a minimal bookworm system with debootstrap (git added, nothing else), clones this
# repository into it and runs there, as a newcomer would:
#   1. ./run.sh without a display: it must build the viewer, say that it needs a display,
#      and exit non-zero;
#   2. ./run.sh with an X display of the host's (Xvfb, started here unless DISPLAY is set):
#      the viewer must start and still be running some seconds later;
#   3. ./test.sh: every test must pass.
#
# Usage, as root: scripts/fresh-machine.sh [--keep]
#   FACE_FRESH_CACHE  cache folder outside the repository (default /var/cache/face-fresh):
#                     a pristine base system, made once, and apt's downloaded packages
#   --keep            leave the system folder in place afterwards (for a look inside)
#
# The Debian mirror is read from the host's own apt sources. Every mount and process made
# here is undone on the way out, whatever happens.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${FACE_FRESH_CACHE:-/var/cache/face-fresh}
keep=0
[ "${1:-}" = --keep ] && keep=1
suite=bookworm
viewer_seconds=20

say() { printf 'fresh-machine: %s\n' "$*" >&2; }
fail() { say "$*"; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot and mounts)"
command -v debootstrap >/dev/null || fail "needs debootstrap: scripts/deps.sh ci installs it"
case "$cache" in "$repo"|"$repo"/*) fail "the cache $cache must lie outside the repository" ;; esac

# The host's Debian sources, as one-line entries: "URI SUITE" for every bookworm suite of
# the main component, from deb822 files and from sources.list alike.
host_sources() {
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'BEGIN { RS = ""; FS = "\n" }
             {
                 types = uris = suites = comps = ""
                 for (i = 1; i <= NF; i++) {
                     if ($i ~ /^Types:/)      types = substr($i, 7)
                     if ($i ~ /^URIs:/)       uris = substr($i, 6)
                     if ($i ~ /^Suites:/)     suites = substr($i, 8)
                     if ($i ~ /^Components:/) comps = substr($i, 12)
                     if ($i ~ /^Enabled: *no/) types = ""
                 }
                 if (types !~ /(^| )deb( |$)/ || comps !~ /(^| )main( |$)/) next
                 n = split(uris, u, " "); m = split(suites, s, " ")
                 for (a = 1; a <= n; a++) for (b = 1; b <= m; b++)
                     if (s[b] ~ /^bookworm/) print u[a], s[b]
             }' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk '$1 == "deb" {
                 i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                 if ($(i + 1) ~ /^bookworm/ && $0 ~ / main( |$)/) print $i, $(i + 1)
             }' "$f"
    done
}

sources=$(host_sources | sort -u)
mirror=$(printf '%s\n' "$sources" | awk '$2 == "bookworm" { print $1; exit }')
[ -n "$mirror" ] || fail "no Debian bookworm mirror in the host's apt sources"

# 1. The pristine base, made once and kept in the cache.
base="$cache/base-$suite"
if [ ! -f "$base/.complete" ]; then
    say "making the base system from $mirror (once; kept in $base)"
    rm -rf "$base"
    mkdir -p "$cache"
    debootstrap --variant=minbase --include=git "$suite" "$base" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        fail "debootstrap failed; see $cache/debootstrap.log"
    touch "$base/.complete"
fi

# 2. A copy of the base for this run; cleanup undoes everything below.
root=$(mktemp -d "$cache/run.XXXXXX")
xvfb_pid=""
# Ends every process whose root is the system folder.
kill_inside() {
    local p
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -KILL "${p#/proc/}" 2>/dev/null
    done
    return 0
}
cleanup() {
    local status=$?
    set +e
    kill_inside
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    # Mounts below the system folder, deepest first.
    awk -v r="$root" '$2 == r || index($2, r "/") == 1 { print $2 }' /proc/mounts | sort -r |
        while read -r m; do umount -l "$m" || say "could not unmount $m"; done
    if [ "$keep" -eq 1 ]; then
        say "kept the system in $root"
    elif ! awk -v r="$root" 'index($2, r) == 1 { found = 1 } END { exit !found }' /proc/mounts; then
        rm -rf "$root"
    else
        say "left $root in place: something is still mounted there"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cp -a "$base/." "$root/"
rm -f "$root/.complete"
printf '%s\n' "$sources" | awk '{ print "deb", $1, $2, "main" }' >"$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The host's network may reach the npm registry only through its own certificate authority:
# the system trusts what the host trusts, as it resolves names as the host does.
host_ca=""
if [ -s /etc/ssl/certs/ca-certificates.crt ]; then
    cp /etc/ssl/certs/ca-certificates.crt "$root/etc/host-ca-certificates.crt"
    host_ca=NODE_EXTRA_CA_CERTS=/etc/host-ca-certificates.crt
fi
mkdir -p "$cache/apt-archives/partial"
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys"
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"
mount -t tmpfs tmpfs "$root/tmp"
# Downloaded packages are kept between runs; what is installed is not.
mount --bind "$cache/apt-archives" "$root/var/cache/apt/archives"

# The repository as committed: a clone, as a newcomer would have.
git clone -q "$repo" "$root/root/face-viewer"

in_system() {
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        TERM=dumb $host_ca "$@"
}

# 3. ./run.sh without a display: built, then refused with its message.
say "./run.sh without a display"
set +e
in_system bash -c 'cd /root/face-viewer && ./run.sh' >"$cache/run-nodisplay.log" 2>&1
status=$?
set -e
grep -q 'needs a display' "$cache/run-nodisplay.log" && [ "$status" -ne 0 ] ||
    fail "./run.sh without a display gave status $status; see $cache/run-nodisplay.log"
[ -x "$root/root/face-viewer/build/face-viewer" ] || fail "./run.sh did not build the viewer"

# 4. ./run.sh with the host's display: the viewer starts and stays up. The chroot shares
# the host's network namespace, so the X server's abstract socket reaches it.
display=${DISPLAY:-}
if [ -z "$display" ]; then
    command -v Xvfb >/dev/null || fail "no DISPLAY and no Xvfb to make one"
    for n in $(seq 90 140); do [ -e "/tmp/.X$n-lock" ] || break; done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    display=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi
say "./run.sh with the display $display"
in_system DISPLAY="$display" bash -c 'cd /root/face-viewer && exec ./run.sh' \
    >"$cache/run-display.log" 2>&1 &
viewer=$!
sleep "$viewer_seconds"
kill -0 "$viewer" 2>/dev/null ||
    fail "the viewer did not stay up for $viewer_seconds s; see $cache/run-display.log"
grep -q 'computing attachments' "$cache/run-display.log" ||
    fail "the viewer printed no start-up lines; see $cache/run-display.log"
# The window shows the textured face: a picture of many colours, not a cleared screen.
if command -v import >/dev/null; then
    DISPLAY="$display" import -window root "$cache/run-display.png"
    colours=$(convert "$cache/run-display.png" -format %k info:)
    [ "$colours" -ge 1000 ] ||
        fail "the viewer's window shows $colours colours, not the face; see $cache/run-display.png"
fi
kill_inside
wait "$viewer" 2>/dev/null || true

# 5. ./test.sh: every test passes.
say "./test.sh"
in_system bash -c 'cd /root/face-viewer && ./test.sh' >"$cache/test.log" 2>&1 ||
    { tail -n 40 "$cache/test.log" >&2; fail "./test.sh failed; see $cache/test.log"; }
tail -n 3 "$cache/test.log" >&2
say "passed"
