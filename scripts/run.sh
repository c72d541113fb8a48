#!/bin/sh
# Sets up, builds and starts the station on the simulator: the KIREL-5000/5100 by default,
# with its window. Options go to scanstation-sim (scripts/run.sh --model 4, --help, ...).
# Without a display the simulator runs headless until the scanner is ready and says how it
# ended.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target scanstation-sim
sim=build/sim/simulator/scanstation-sim
if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
    echo "No display found: running the simulator headless (offscreen) until the scanner is ready."
    export QT_QPA_PLATFORM=offscreen
    if "$sim" --print-status --exit-when-ready "$@"; then
        echo "The station is ready on the virtual scanner (headless run ended)."
    else
        status=$?
        echo "The station did not get ready on the virtual scanner (exit status $status)."
        exit "$status"
    fi
    exit 0
fi
exec "$sim" "$@"
