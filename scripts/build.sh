#!/usr/bin/env bash
# Configures and builds one build tree. Usage: scripts/build.sh [BUILD_DIR] [extra cmake args...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
shift || true
jobs="${QX_JOBS:-$(nproc)}"
launcher=()
# ccache makes rebuilds of other trees (sanitizer builds, worktrees) cheap when it is installed.
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DQX_WERROR=ON "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j "$jobs"
