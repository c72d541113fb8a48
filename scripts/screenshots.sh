#!/bin/sh
# Redraws the screenshots of docs/ with the simulator, offscreen, after a change to the forms:
#
#   scripts/screenshots.sh [BUILD_DIR]      (default: build; configured here when it is new)
#
# Each picture is the station's own main window on the virtual scanner, saved by the
# simulator (--screenshot) on the poll tick that finds the scanner ready. The station reads
# the lab's settings below from a temporary root folder, which is removed afterwards: the
# settings of the last scan (template record 0), two named templates, the filter tray and
# the module list, and the system parameters. The destination folder "/home/pi/Scans" is
# only shown in the main windows. The scan-window picture comes from an unattended scan of
# the same settings (--auto-scan) into a folder of the temporary root, taken as the scan's
# last box opens over the finished preview and histogram.
set -e
cd "$(dirname "$0")/.."
build=${1:-build}

scripts/install-deps.sh
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target scanstation-sim
sim=$build/sim/simulator/scanstation-sim

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/home/pi/KIREL5-IR" "$root/home/pi/VESK-IR"

# The data files: Qt data streams (version 17, big-endian, no header). A QString is its
# byte count and UTF-16 code units, a QPointF two doubles, a number a 32-bit integer.
# Written with perl's pack, which perl-base (always installed on Debian) provides.
write_settings() {
perl -e '
use strict;
my $root = shift;
my $folder = shift;
sub i32 { pack "l>*", @_ }
sub str { my $u = pack "n*", unpack "U*", $_[0]; pack("N", length $u) . $u }
sub pt  { pack "d>d>", @_ }
sub put { my ($file, @records) = @_;
          open my $f, ">:raw", "$root/home/pi/$file" or die "$file: $!\n";
          print $f @records; close $f or die "$file: $!\n"; }
# name, comment, mode (0 IP, 2 Fluorescence), area (0 Grid, 5 20x25cm), corners L, R, C
# (tile column, row), resolution, laser list entry, filter tray position - 1, filter label,
# photomultiplier voltage
sub tpl { my ($name, $comment, $mode, $area, $l, $r, $c, $res, $laser, $filter, $label, $hv) = @_;
          str($name) . str($comment) . i32($mode, $area) . pt(@$l) . pt(@$r) . pt(@$c)
          . i32($res) . pack("CC", $laser, 0) . i32($filter, $filter) . str($label)
          . i32($hv, 0) . str($folder) }
# module name, filter code and label (both channels), module model number
sub mod { my ($name, $code, $label, $type) = @_;
          str($name) . i32($code) . str($label) . i32($code) . str($label) . i32($type) }
# raw data, shading data, boot log, scan log, reading log
my $sysparams = i32(1, 0, 1, 1, 0);
my @tray = (mod("IP", 520, "IP", 1), mod("Y520", 520, "Y520", 2),
            mod("O575", 550, "O575", 3), mod("R665", 580, "R665", 4));

# KIREL-5000/5100: a fluorescence scan of 3 x 4 tiles (columns H-J, rows 7-10) at 100 um,
# 532 nm laser, Y520 filter, 600 V.
put("KIREL5-IR/scan_templates.tpl",
    tpl("startup", "", 2, 0, [7, 6], [9, 9], [8, 8], 100, 1, 1, "Y520", 600),
    tpl("DNA gel SYBR", "532 nm, Y520", 2, 0, [5, 5], [10, 12], [7, 9], 100, 2, 1, "Y520", 550),
    tpl("IP 20x25", "autoradiography", 0, 5, [0, 8], [9, 15], [4, 11], 200, 3, 0, "IP", 750));
put("KIREL5-IR/filtertray.fil", @tray);
put("KIREL5-IR/filtermodule.fil", @tray, mod("Cy5 R670", 590, "R670", 12));
put("KIREL5-IR/sysparam.dat", $sysparams);

# VESK-1800II: a 20 x 25 cm imaging plate at 100 um.
put("VESK-IR/scan_templates.tpl",
    tpl("startup", "", 0, 5, [0, 0], [9, 7], [4, 3], 100, 0, 0, "", 750));
put("VESK-IR/sysparam.dat", $sysparams);
' "$root" "$1"
}
write_settings /home/pi/Scans

# The simulator's service lines are shown only when a picture fails.
shot() {
    model=$1
    file=$2
    if ! QT_QPA_PLATFORM=offscreen "$sim" --model "$model" --root "$root" --selftest-ms 500 \
        --exit-when-ready --timeout 30 --screenshot "$file" >"$root/sim.log" 2>&1; then
        cat "$root/sim.log" >&2
        echo "no picture of model $model: the simulator did not get ready" >&2
        exit 1
    fi
    echo "$file"
}

mkdir -p docs
shot 11 docs/mainwindow-kirel5-ready.png
shot 4 docs/mainwindow-vesk1800-ready.png

# A scan in the scan window: the KIREL-5000/5100 settings above, scanned unattended.
mkdir -p "$root/scans"
write_settings "$root/scans"
if ! QT_QPA_PLATFORM=offscreen "$sim" --model 11 --root "$root" --selftest-ms 500 \
    --timeout 30 --auto-scan screenshot --screenshot docs/scanwindow-kirel5-scanning.png \
    >"$root/sim.log" 2>&1; then
    cat "$root/sim.log" >&2
    echo "no picture of the scan window: the unattended scan did not complete" >&2
    exit 1
fi
echo docs/scanwindow-kirel5-scanning.png
