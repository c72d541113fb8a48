#!/bin/sh
# Sets up, builds and starts the KIREL-5000/5100 station.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
    echo "No display found: starting the station headless (offscreen); stop it with Ctrl+C."
    export QT_QPA_PLATFORM=offscreen
fi
exec build/scanstation-kirel5 "$@"
