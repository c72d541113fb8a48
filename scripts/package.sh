#!/bin/sh
# Builds the Debian package of the station for 64-bit Raspberry Pi OS and checks what it
# holds; one command, from a clone of this repository on a Debian 12 PC:
#
#   scripts/package.sh      ->  build-arm64/scanstation_<version>_arm64.deb
#
# The cross build is scripts/ci-arm64.sh --build (which installs what is missing). The
# checks: the package is arm64; it holds the four stations, scanstation-export, the
# simulator and scanstation-buscheck when they are built, the launcher, a menu entry and
# icon per model, the
# start-at-login entry, the sudo rule and the documentation; every program is an AArch64
# executable; every desktop entry passes desktop-file-validate; the sudo rule passes visudo.
set -e
cd "$(dirname "$0")/.."
BUILD=build-arm64
MODELS="kirel5 kirel3 vesk5000 vesk1800"

scripts/ci-arm64.sh --build
rm -f "$BUILD"/scanstation_*.deb
(cd "$BUILD" && cpack -G DEB)
deb=$(ls "$BUILD"/scanstation_*.deb)

fail() {
    echo "package: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
root=$work/root

arch=$(dpkg-deb -f "$deb" Architecture)
[ "$arch" = arm64 ] || fail "$deb is for '$arch', not arm64"

programs=scanstation-export
expected="usr/bin/scanstation-launch usr/bin/scanstation-export
usr/share/doc/scanstation/README.md usr/share/doc/scanstation/README.Debian
usr/share/doc/scanstation/copyright etc/default/scanstation etc/sudoers.d/scanstation
etc/xdg/autostart/scanstation.desktop"
for m in $MODELS; do
    programs="$programs scanstation-$m"
    expected="$expected usr/bin/scanstation-$m usr/share/applications/scanstation-$m.desktop
usr/share/icons/hicolor/scalable/apps/scanstation-$m.svg"
done
if [ -e "$BUILD/sim/simulator/scanstation-sim" ]; then
    programs="$programs scanstation-sim"
    expected="$expected usr/bin/scanstation-sim"
fi
if [ -e "$BUILD/tools/buscheck/scanstation-buscheck" ]; then
    programs="$programs scanstation-buscheck"
    expected="$expected usr/bin/scanstation-buscheck"
fi
for f in $expected; do
    [ -f "$root/$f" ] || fail "/$f is missing"
done
[ -x "$root/usr/bin/scanstation-launch" ] || fail "/usr/bin/scanstation-launch is not executable"

for p in $programs; do
    f=$root/usr/bin/$p
    [ -x "$f" ] || fail "/usr/bin/$p is not executable"
    machine=$(readelf -h "$f" | sed -n 's/^ *Machine: *//p')
    [ "$machine" = AArch64 ] || fail "/usr/bin/$p is built for '$machine', not AArch64"
done
sh -n "$root/usr/bin/scanstation-launch" || fail "scanstation-launch is no valid shell script"

for f in "$root"/usr/share/applications/*.desktop "$root"/etc/xdg/autostart/*.desktop; do
    desktop-file-validate "$f" || fail "${f#"$root"} is not a valid desktop entry"
done

sudoers=$root/etc/sudoers.d/scanstation
[ "$(stat -c %a "$sudoers")" = 440 ] || fail "/etc/sudoers.d/scanstation is not mode 0440"
visudo -c -q -f "$sudoers" || fail "/etc/sudoers.d/scanstation does not parse"

for f in /etc/default/scanstation /etc/sudoers.d/scanstation /etc/xdg/autostart/scanstation.desktop; do
    grep -qx "$f" "$work/control/conffiles" || fail "$f is not a conffile"
done

echo "package: $deb ($(du -h "$deb" | cut -f1)), $arch, $(dpkg-deb -c "$deb" | grep -vc '/$') files:"
dpkg-deb -c "$deb" | grep -v '/$' | sed 's#.* \./#    /#'
echo "package: contents check out; AArch64 programs:" $programs
