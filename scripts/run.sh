#!/bin/sh
# Sets up, builds and starts the station on the simulator: the KIREL-5000/5100 by default,
# with its window. Options go to scanstation-sim (scripts/run.sh --model 4, --help, ...).
# Without a display the simulator runs one unattended demo scan headless (offscreen) and
# says where the image and the picture of the scan window are.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target scanstation-sim
sim=build/sim/simulator/scanstation-sim
if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
    root="${TMPDIR:-/tmp}/scanstation-demo"
    name="demo-$(date +%Y%m%d-%H%M%S)"
    echo "No display found: running one unattended demo scan headless (offscreen), files under $root."
    if "$sim" --root "$root" --selftest-ms 1000 --auto-scan "$name" \
        --screenshot "$root/$name.png" "$@"; then
        echo "Demo scan complete."
        status=0
    else
        status=$?
        echo "The demo scan did not complete (exit status $status)."
    fi
    [ -f "$root/home/$name.img" ] && echo "Image:      $root/home/$name.img (with $name.inf)"
    [ -f "$root/$name.png" ] && echo "Screenshot: $root/$name.png"
    exit "$status"
fi
exec "$sim" "$@"
