#!/bin/sh
# Installs the Debian packages that building and testing the station need, when missing.
# Works on Debian 12 and Raspberry Pi OS (bookworm); uses sudo when not run as root.
set -e
PACKAGES="cmake make g++ qtbase5-dev qtbase5-dev-tools libtiff-dev fonts-dejavu-core"
missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
