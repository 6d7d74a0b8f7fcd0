#!/usr/bin/env bash
# The main job: build qx and show what it can do.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" >/dev/null
qx="$root/build/Host/qx/qx"
"$qx" --version
"$qx" --help
