#!/usr/bin/env bash
# Builds the Debian package (scripts/deb.sh) and checks it as a user would meet it: the files
# it holds, its programs run from the extracted package, the folders the window chooses for a
# user with a fresh home, and the checkers of Debian and the desktop (lintian,
# desktop-file-validate, appstreamcli, hardening-check, man) when they are installed.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
deb=$(scripts/deb.sh)
echo "== package built in $((SECONDS - started)) s: $deb"
version=$(dpkg-parsechangelog -S Version)
id=io.github.dielmon.Dielmon

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

echo "== contents"
dpkg-deb -c "$deb" | awk '{print $6, $7, $8}' >"$scratch/contents"
echo "$(grep -vc '/$' "$scratch/contents") files, $(du -k "$deb" | cut -f1) KiB"
for path in usr/bin/dielmon usr/bin/dielmon-sim usr/bin/dielmon-trace usr/bin/dielmon-archive \
    usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/$id.svg \
    usr/share/icons/hicolor/48x48/apps/$id.png usr/share/icons/hicolor/256x256/apps/$id.png \
    usr/share/man/man1/dielmon.1.gz usr/share/man/man1/dielmon-sim.1.gz \
    usr/share/man/man1/dielmon-trace.1.gz usr/share/man/man1/dielmon-archive.1.gz \
    usr/share/doc/dielmon/copyright usr/share/doc/dielmon/changelog.gz \
    usr/share/doc/dielmon/archive-server.md \
    usr/share/dielmon/guide/index.html usr/share/dielmon/guide/en.html \
    usr/share/dielmon/assessment/defaults.conf usr/share/dielmon/assessment/nameplate.profile \
    usr/share/dielmon/assessment/exponential-1.3.method; do
    grep -q "^\./$path\( \|$\)" "$scratch/contents" || fail "the package has no /$path"
done
dpkg-deb -f "$deb" Depends | grep -q "fonts-arphic-uming" || fail "no dependency on the CJK font"

echo "== the extracted programs"
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for program in dielmon dielmon-sim dielmon-trace dielmon-archive; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$program" --version) ||
        fail "$program --version exits $?"
    echo "$out" | head -n 1
    [ "$(echo "$out" | head -n 1)" = "$program $version" ] || fail "$program --version: $out"
    env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$program" --help >/dev/null ||
        fail "$program --help without a display"
done
# The archive tool finds the shipped corrections and profiles beside itself, and reads them whole.
rules=$(env -u DISPLAY "$root/usr/bin/dielmon-archive" --home "$scratch" rules) ||
    fail "dielmon-archive rules exits $?: $rules"
echo "$rules" | grep -q "^dlt596: " || fail "dielmon-archive rules lists no dlt596 profile"
for size in 48 256; do
    file "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" |
        grep -q "$size x $size" || fail "the $size px icon is not $size x $size"
done

echo "== the window started from the package, with a fresh home and no --home"
home="$scratch/home"
mkdir -p "$home"
run() {
    env -u XDG_CONFIG_HOME -u XDG_STATE_HOME -u XDG_DATA_HOME HOME="$home" "$@"
}
folders=$(run "$root/usr/bin/dielmon" --folders)
echo "$folders"
[ "$(echo "$folders" | awk '/^settings/ {print $2}')" = "$home/.config/dielmon/Config.ini" ] ||
    fail "Config.ini is not to be in ~/.config/dielmon/"
[ "$(echo "$folders" | awk '/^log/ {print $2}')" = "$home/.local/state/dielmon/Log/" ] ||
    fail "the log is not to be in ~/.local/state/dielmon/Log/"
# env runs the program in its own process, so that $! is the program itself.
env -u XDG_CONFIG_HOME -u XDG_STATE_HOME -u XDG_DATA_HOME HOME="$home" QT_QPA_PLATFORM=offscreen \
    "$root/usr/bin/dielmon" --simulate >"$scratch/window.out" 2>&1 &
window=$!
for _ in $(seq 100); do
    [ -d "$home/.config/dielmon" ] && break
    sleep 0.1
done
sleep 1
if kill -0 "$window" 2>/dev/null; then
    kill "$window"
    wait "$window" 2>/dev/null || true
else
    wait "$window" || true
    fail "the window did not stay up: $(cat "$scratch/window.out")"
fi
[ -d "$home/.config/dielmon" ] || fail "the window did not make ~/.config/dielmon/"
leftovers=$(find "$root/usr/bin" -mindepth 1 ! -name 'dielmon*')
[ -z "$leftovers" ] || fail "the window wrote beside its executable: $leftovers"
echo "settings folder: $(cd "$home" && find .config/dielmon)"

echo "== desktop entry and metadata"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" ||
        fail "appstreamcli validate"
fi

echo "== manual pages"
if command -v man >/dev/null; then
    for page in "$root"/usr/share/man/man1/*.1.gz; do
        warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
            man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    done
fi

echo "== hardening"
if command -v hardening-check >/dev/null; then
    # Debian 12's C library starts every program with code built without the control-flow
    # marks, so no program of Debian 12 can carry them (/usr/bin/ls neither); the check is
    # left out. Our own code is compiled with them (debian/rules).
    hardening-check --nocfprotection "$root"/usr/bin/* || fail "hardening-check"
fi

echo "== lintian"
if command -v lintian >/dev/null; then
    status=0
    report=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
    echo "$report" | grep -v "running with root privileges" || true
    [ "$status" -eq 0 ] || fail "lintian"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures package check(s) failed" >&2
    exit 1
fi
echo "== package checks passed in $((SECONDS - started)) s"
