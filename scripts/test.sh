#!/usr/bin/env bash
# The whole test suite from a fresh machine: install dependencies, build, run every test,
# then short fuzz smoke runs when clang is available. Exits non-zero on any failure.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

"$root/scripts/setup.sh" || exit 1
"$root/scripts/build.sh" "$root/build" || { echo "BUILD FAILED"; exit 1; }

status=0
(cd "$root/build" && ctest --output-on-failure -j "$(nproc)" --timeout 600) || status=1

if [ "${QX_SKIP_FUZZ:-0}" != "1" ]; then
    "$root/scripts/fuzz.sh" smoke || status=1
fi

[ $status -eq 0 ] && echo "ALL TESTS PASSED" || echo "TESTS FAILED"
exit $status
