#!/usr/bin/env bash
# Installs the Debian packages the build needs, skipping those already present.
# Run as root (or with sudo available). Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev libqt5svg5-dev libzstd-dev libxxhash-dev rapidjson-dev zlib1g-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libdw-dev libcapstone-dev
)
# Fuzz smoke runs need clang with its sanitizer runtimes; optional, installed when available.
optional=(clang libclang-rt-14-dev xvfb xauth)

missing=()
for p in "${packages[@]}" "${optional[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/tmp/qx-apt.log 2>&1; then
    $SUDO apt-get update -q >/tmp/qx-apt-update.log 2>&1 || true
    if ! $SUDO apt-get install -y -q --no-install-recommends "${packages[@]}" >/tmp/qx-apt.log 2>&1; then
        tail -n 20 /tmp/qx-apt.log
        echo "error: could not install the build dependencies" >&2
        exit 1
    fi
    $SUDO apt-get install -y -q --no-install-recommends "${optional[@]}" >>/tmp/qx-apt.log 2>&1 \
        || echo "note: clang is unavailable; fuzz smoke runs will be skipped"
fi
