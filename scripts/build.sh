#!/usr/bin/env bash
# Configures and builds one build tree. Usage: scripts/build.sh [BUILD_DIR] [extra cmake args...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
shift || true
jobs="${QX_JOBS:-$(nproc)}"
cmake -S "$root" -B "$build" -G Ninja -DQX_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j "$jobs"
