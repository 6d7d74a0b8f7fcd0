#!/usr/bin/env bash
# Builds and runs every benchmark; figures go to BenchmarkResults/NAME.json.
# Usage: scripts/bench.sh [NAME-FILTER] [extra benchmark args...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
filter="${1:-}"
shift || true
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DQX_BUILD_TESTS=OFF
mkdir -p "$root/BenchmarkResults"
for binary in "$root"/build-bench/Benchmarks/*/*Benchmark*; do
    [ -x "$binary" ] || continue
    name="$(basename "$binary")"
    [ -n "$filter" ] && [[ "$name" != *"$filter"* ]] && continue
    echo "== $name"
    "$binary" --benchmark_out="$root/BenchmarkResults/$name.json" --benchmark_out_format=json "$@"
done
