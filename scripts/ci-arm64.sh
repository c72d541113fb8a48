#!/bin/sh
# The arm64 stage: cross-builds the whole station for 64-bit Raspberry Pi OS with Debian's
# cross compiler and arm64 Qt (cmake/aarch64-linux-gnu.cmake), warnings as errors, into
# build-arm64/, and runs every test of that build under qemu user-mode emulation.
#
#   scripts/ci-arm64.sh           install what is missing, build, run the whole suite
#   scripts/ci-arm64.sh --build   install what is missing, build (scripts/package.sh)
#
# This is the only place where the code that maps the Pi's registers is compiled for its
# target and run. The emulated test processes run as root on a PC, so only the Raspberry Pi
# check stands between them and the PC's /dev/mem: qemu logs every system call of every
# test process, and the stage fails if any of them opened /dev/mem, /dev/gpiomem,
# /dev/i2c-* or /dev/gpscsidrv.
#
# Works on Debian 12 (amd64); uses sudo when not run as root.
set -e
cd "$(dirname "$0")/.."

BUILD=build-arm64
SYSCALLS=$BUILD/syscalls
ARCH=arm64
# The cross stage, and the package stage's checks (scripts/package.sh).
PACKAGES="cmake make g++-aarch64-linux-gnu qtbase5-dev-tools qtbase5-dev:$ARCH
libtiff-dev:$ARCH qemu-user-static binutils desktop-file-utils sudo"

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

install_missing() {
    update=""
    if ! dpkg --print-foreign-architectures | grep -qx "$ARCH"; then
        echo "Adding the $ARCH architecture to dpkg"
        $SUDO dpkg --add-architecture "$ARCH"
        update=yes
    fi
    missing=""
    for p in $PACKAGES; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $p"
        fi
    done
    [ -z "$missing" ] && [ -z "$update" ] && return 0
    echo "Installing:$missing"
    $SUDO apt-get update -qq
    [ -z "$missing" ] && return 0
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
}

build() {
    qemu=$(command -v qemu-aarch64-static)
    # The toolchain file counts only for a new build folder.
    toolchain=""
    [ -f "$BUILD/CMakeCache.txt" ] || toolchain=-DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
    # Each test process writes its system calls to syscalls/<pid>.log.
    cmake -S . -B "$BUILD" $toolchain \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_INSTALL_PREFIX=/usr \
        -DSCANSTATION_WERROR=ON \
        "-DCMAKE_CROSSCOMPILING_EMULATOR=$qemu;-strace;-D;$PWD/$SYSCALLS/%d.log"
    cmake --build "$BUILD" -j"$(nproc)"
}

run_tests() {
    rm -rf "$SYSCALLS"
    mkdir -p "$SYSCALLS"
    ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)"

    logs=$(find "$SYSCALLS" -name '*.log' | wc -l)
    if [ "$logs" -eq 0 ]; then
        echo "arm64: no system-call log was written; the tests did not run under qemu" >&2
        exit 1
    fi
    opened=$(grep -h -E 'open(at)?\([^"]*"/dev/(mem|gpiomem|i2c-[0-9]+|gpscsidrv)"' \
        "$SYSCALLS"/*.log || true)
    if [ -n "$opened" ]; then
        echo "arm64: a test process opened the Pi's devices on this PC:" >&2
        echo "$opened" >&2
        exit 1
    fi
    checks=$(cat "$SYSCALLS"/*.log | grep -c '"/proc/device-tree/model"' || true)
    if [ "$checks" -eq 0 ]; then
        echo "arm64: no test reached the Raspberry Pi check (/proc/device-tree/model)" >&2
        exit 1
    fi
    echo "arm64: $logs test processes under qemu; the Raspberry Pi check ran $checks times;"
    echo "arm64: none opened /dev/mem, /dev/gpiomem, /dev/i2c-* or /dev/gpscsidrv"
    rm -rf "$SYSCALLS"
}

install_missing
build
case "$1" in
--build) ;;
*) run_tests ;;
esac
